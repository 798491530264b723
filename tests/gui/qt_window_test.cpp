// The Qt window on a real X display: it opens with the three settings lines
// and the focus in the access field, and the access code typed with Enter
// reveals the update panel. Keys go through Qt's own event delivery. A
// download draws its progress once per display frame and always ends with
// its final state on the screen.
#include "../app/updater_fixture.h"
#include "support/http_script_server.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>

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

// Counts the paints of a widget and keeps the text it showed in the last one.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QLabel* label) : FLabel(label) { label->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            last_painted = FLabel->text();
        }
        return false;
    }
    int paints = 0;
    QString last_painted;

private:
    QLabel* FLabel;
};

TEST(QtWindow, ADownloadIsDrawnOncePerFrameAndEndsOnItsFinalState) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=localhost\nUYGULAMA_ADRES=C:\\Kuvento\n");
    const size_t size = 16 << 20; // about 500 progress events
    HttpScriptServer server({respond("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                                     "\r\n\r\n" + std::string(size, 'k'))});
    auto backend = window::create_native_backend();
    TApplication app(*backend);
    app.Initialize();
    TForm1* form = nullptr;
    app.CreateForm(form, test_config());
    backend->show_window();
    form->Panel1.SetVisible(true);
    backend->process_messages();
    QWidget* window = main_window();
    ASSERT_NE(window, nullptr);
    QLabel* text = nullptr;
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->text() == "0/0") text = l;
    ASSERT_NE(text, nullptr);
    auto* bar = window->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    PaintWatch watch(text);

    const auto started = std::chrono::steady_clock::now();
    form->DownloadFile(server.url("/kuvento.rar"), (site.path() / "kuvento.rar").string());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

    // The final state is on the screen without another pass of the event loop.
    EXPECT_EQ(text->text(), "% 100");
    EXPECT_EQ(watch.last_painted, "% 100");
    EXPECT_EQ(bar->maximum(), static_cast<int>(size));
    EXPECT_EQ(bar->value(), static_cast<int>(size));
    // At most one drawing per frame, plus the final one, where a drawing per
    // progress event would have painted the text about 500 times.
    const double hertz = window->screen()->refreshRate() >= 20 ? window->screen()->refreshRate() : 60;
    const int frames = static_cast<int>(took.count() * hertz) + 1;
    EXPECT_LE(watch.paints, frames + 2) << took.count() << " s";
}

} // namespace
} // namespace kv::test
