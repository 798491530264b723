// The Qt window on a real X display: it opens with the three settings lines
// and the focus in the access field, and the access code typed with Enter
// reveals the update panel. Keys go through Qt's own event delivery.
#include "../app/updater_fixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

QWidget* main_window() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == "KV Update 2027") return w;
    return nullptr;
}

void send_key(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

TEST(QtWindow, ShowsTheSettingsLinesAndUnlocksWithTheCode) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=localhost\nUYGULAMA_ADRES=C:\\Kuvento\n");
    auto backend = window::create_native_backend();
    TApplication app(*backend);
    app.Initialize();
    TForm1* form = nullptr;
    app.CreateForm(form);
    backend->show_window();
    backend->process_messages();

    QWidget* window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QStringList shown;
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->isVisible()) shown << l->text();
    EXPECT_TRUE(shown.contains(QString::fromStdString(form->Settings().UpdateBaseUrl)));
    EXPECT_TRUE(shown.contains("localhost"));
    EXPECT_TRUE(shown.contains("C:\\Kuvento"));
    QPushButton* start = nullptr;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == QString::fromUtf8("Güncelleme Başla")) start = b;
    ASSERT_NE(start, nullptr);
    EXPECT_FALSE(start->isVisible());

    auto* edit = qobject_cast<QLineEdit*>(window->focusWidget());
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    send_key(edit, Qt::Key_7, kAccessCode);
    EXPECT_EQ(form->Edit1.Text(), kAccessCode);
    send_key(edit, Qt::Key_Return, "\r");
    backend->process_messages();
    EXPECT_TRUE(start->isVisible());
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_TRUE(form->Panel1.Visible());
}

} // namespace
} // namespace kv::test
