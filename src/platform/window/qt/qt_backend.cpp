// The window drawn with Qt Widgets (the Linux target): one top-level widget
// with a child widget per holder, placed at the holders' bounds; Qt scales
// them with the screen. Boxes are QMessageBox; ProcessMessages is
// processEvents. The bar and the labels are drawn at most once per frame of
// the window's screen (FramePacer).
#include "platform/window/backend.h"
#include "platform/window/frame_pacer.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <vector>

namespace kv::window {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Shows each character of a password field as the holder's character.
class PasswordStyle : public QProxyStyle {
public:
    explicit PasswordStyle(char c) : FChar(c) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return FChar;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }

private:
    char FChar;
};

class QtBackend;

// Routes the window's close request and the edit fields' keys and focus to the Form.
class EventRouter : public QObject {
public:
    explicit EventRouter(QtBackend& backend) : FBackend(backend) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QtBackend& FBackend;
};

class QtBackend : public Backend {
public:
    QtBackend()
        : FApp(std::make_unique<QApplication>(FArgc, FArgv)), FRouter(*this),
          FPacer([this](Control& c) { draw(c); }, [this](FramePacer::Clock::duration d) { call_in(d); }) {
        FPaceTimer.setSingleShot(true);
        FPaceTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FPaceTimer, &QTimer::timeout, [this] { FPacer.draw_due(); });
    }
    ~QtBackend() override {
        FWidgets.clear();
        FWindow.reset();
    }

    void create_window(Form& form) override;
    void show_window() override {
        FWindow->show();
        FForm->deliver_show();
    }
    void update(Control& control) override;
    void focus(Control& control) override {
        if (QWidget* w = widget(control)) w->setFocus(Qt::OtherFocusReason);
    }
    void repaint_now(Control& control) override {
        QWidget* w = widget(control);
        if (!w || FPacer.holds(control)) return;
        // The bar shows no text, so its picture changes only with the filled
        // width; a download moves it tens of thousands of times, mostly by
        // less than a pixel, and QProgressBar::setValue has already painted
        // every change that shows.
        if (auto* bar = qobject_cast<QProgressBar*>(w)) {
            const int64_t span = int64_t(bar->maximum()) - bar->minimum();
            const int filled =
                span > 0 ? int((int64_t(bar->value()) - bar->minimum()) * bar->width() / span) : 0;
            auto [it, fresh] = FBarFill.try_emplace(bar, filled);
            if (!fresh && it->second == filled) return;
            it->second = filled;
        }
        w->repaint();
    }
    void paint_held() override {
        std::vector<QWidget*> held;
        for (auto& [c, w] : FWidgets)
            if (FPacer.holds(*c)) held.push_back(w);
        FPacer.draw_held();
        for (QWidget* w : held)
            w->repaint();
    }
    void message_box(const std::string& caption, const std::string& text, BoxIcon icon) override {
        QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, qs(caption),
                        qs(text), QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    }
    void process_messages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void wait_and_dispatch() override {
        if (!FWoken) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        FWoken = false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    void wake() override {
        FWoken = true;
        if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
    }
    std::string program_path() override { return QCoreApplication::applicationFilePath().toStdString(); }

    // For the router.
    bool is_window(QObject* o) const { return o == FWindow.get(); }
    Control* control_of(QObject* o) const {
        for (auto& [c, w] : FWidgets)
            if (w == o) return c;
        return nullptr;
    }
    Form& form() const { return *FForm; }

private:
    QWidget* widget(Control& c) const {
        auto it = FWidgets.find(&c);
        return it == FWidgets.end() ? nullptr : it->second;
    }
    QWidget* make_widget(Control& c, QWidget* parent);
    void draw(Control& c);
    void call_in(FramePacer::Clock::duration delay) {
        FPaceTimer.start(std::chrono::ceil<std::chrono::milliseconds>(delay));
    }
    void set_tab_order();

    int FArgc = 1;
    char FName[9] = "kvupdate";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QApplication> FApp;
    EventRouter FRouter;
    std::unique_ptr<PasswordStyle> FPasswordStyle;
    Form* FForm = nullptr;
    std::unique_ptr<QWidget> FWindow;
    std::map<Control*, QWidget*> FWidgets;
    std::map<Control*, int> FLinesShown;
    std::map<QProgressBar*, int> FBarFill; // filled width at the last repaint_now
    bool FWoken = false;
    FramePacer FPacer;
    QTimer FPaceTimer;
};

bool EventRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && FBackend.is_window(watched)) {
        // Closing asks for the end; the window goes when the event loop ends.
        event->ignore();
        FBackend.form().deliver_close();
        return true;
    }
    Control* c = FBackend.control_of(watched);
    if (!c || c->Kind() != ControlKind::Edit) return false;
    auto* edit = static_cast<QLineEdit*>(watched);
    switch (event->type()) {
    case QEvent::FocusIn:
        edit->setPlaceholderText(QString());
        return false;
    case QEvent::FocusOut:
        edit->setPlaceholderText(qs(c->cue_text));
        return false;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        QString text = key->text();
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) text = QStringLiteral("\r");
        bool swallowed = false;
        for (QChar ch : text)
            if (FBackend.form().deliver_key_press(*c, ch.unicode()) == 0) swallowed = true;
        return swallowed;
    }
    default:
        return false;
    }
}

QWidget* QtBackend::make_widget(Control& c, QWidget* parent) {
    switch (c.Kind()) {
    case ControlKind::Button: {
        auto* b = new QPushButton(parent);
        QObject::connect(b, &QPushButton::clicked, [this, &c] { FForm->deliver_click(c); });
        return b;
    }
    case ControlKind::Edit: {
        auto* e = new QLineEdit(parent);
        if (c.password_char) {
            FPasswordStyle = std::make_unique<PasswordStyle>(c.password_char);
            e->setStyle(FPasswordStyle.get());
            e->setEchoMode(QLineEdit::Password);
        }
        e->setPlaceholderText(qs(c.cue_text));
        e->installEventFilter(&FRouter);
        QObject::connect(e, &QLineEdit::textChanged, [&c](const QString& t) { c.SetText(t.toStdString()); });
        return e;
    }
    case ControlKind::Label: {
        auto* l = new QLabel(parent);
        l->setAlignment(c.centred ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
        l->setTextFormat(Qt::PlainText); // captions are never markup
        return l;
    }
    case ControlKind::Panel: {
        auto* f = new QFrame(parent);
        if (c.raised_border) f->setFrameStyle(QFrame::Panel | QFrame::Raised);
        f->setLineWidth(1);
        return f;
    }
    case ControlKind::ProgressBar: {
        auto* p = new QProgressBar(parent);
        p->setTextVisible(false);
        return p;
    }
    case ControlKind::Memo: {
        auto* m = new QPlainTextEdit(parent);
        m->setReadOnly(true);
        return m;
    }
    }
    return nullptr;
}

void QtBackend::create_window(Form& form) {
    FForm = &form;
    FWindow = std::make_unique<QWidget>();
    FWindow->setWindowTitle(qs(form.caption));
    FWindow->resize(form.client_width, form.client_height);
    QFont font = FWindow->font();
    if (QFontDatabase::families().contains(qs(form.font_name))) font.setFamily(qs(form.font_name));
    font.setPointSize(form.font_points);
    FWindow->setFont(font);
    QPalette palette = FWindow->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    FWindow->setPalette(palette);
    FWindow->setAutoFillBackground(true);
    FWindow->installEventFilter(&FRouter);
    if (QScreen* screen = FWindow->screen()) FPacer.set_refresh_rate(screen->refreshRate());
    for (Control* c : form.controls()) {
        QWidget* parent = c->Parent() ? FWidgets.at(c->Parent()) : FWindow.get();
        QWidget* w = make_widget(*c, parent);
        w->setGeometry(c->bounds.left, c->bounds.top, c->bounds.width, c->bounds.height);
        FWidgets[c] = w;
        draw(*c);
    }
    set_tab_order();
}

// Texts and positions of the bar and the labels are paced; a change of
// enabled or visible state is drawn at once, with the latest text.
void QtBackend::update(Control& c) {
    QWidget* w = widget(c);
    if (!w) return;
    const bool paced = c.Kind() == ControlKind::Label || c.Kind() == ControlKind::ProgressBar;
    if (paced && w->isEnabledTo(FWindow.get()) == c.Enabled() && w->isHidden() != c.Visible())
        FPacer.changed(c);
    else
        draw(c);
}

// Qt keeps one tab chain for the window: the window's controls by their tab
// order, a panel's controls following the panel's place.
void QtBackend::set_tab_order() {
    QWidget* previous = nullptr;
    std::function<void(Control*)> chain = [&](Control* parent) {
        std::vector<Control*> level;
        for (Control* c : FForm->controls())
            if (c->Parent() == parent && c->tab_order >= 0) level.push_back(c);
        std::stable_sort(level.begin(), level.end(),
                         [](Control* a, Control* b) { return a->tab_order < b->tab_order; });
        for (Control* c : level) {
            if (c->Kind() == ControlKind::Panel) {
                chain(c);
                continue;
            }
            QWidget* w = FWidgets.at(c);
            if (previous) QWidget::setTabOrder(previous, w);
            previous = w;
        }
    };
    chain(nullptr);
}

void QtBackend::draw(Control& c) {
    QWidget* w = widget(c);
    if (!w) return;
    const QString text = qs(c.Text());
    switch (c.Kind()) {
    case ControlKind::Button:
        static_cast<QPushButton*>(w)->setText(text);
        break;
    case ControlKind::Edit: {
        auto* e = static_cast<QLineEdit*>(w);
        if (e->text() != text) e->setText(text);
        break;
    }
    case ControlKind::Label: {
        auto* l = static_cast<QLabel*>(w);
        l->setText(text);
        if (c.auto_size) l->resize(l->sizeHint().width(), c.bounds.height);
        break;
    }
    case ControlKind::ProgressBar: {
        auto* p = static_cast<QProgressBar*>(w);
        p->setRange(c.Min(), c.Max());
        p->setValue(c.Position());
        break;
    }
    case ControlKind::Memo: {
        auto* m = static_cast<QPlainTextEdit*>(w);
        int& shown = FLinesShown[&c];
        for (; shown < static_cast<int>(c.Lines().size()); ++shown)
            m->appendPlainText(qs(c.Lines()[shown]));
        break;
    }
    case ControlKind::Panel:
        break;
    }
    w->setEnabled(c.Enabled());
    w->setVisible(c.Visible());
}

} // namespace

std::unique_ptr<Backend> create_native_backend() {
    return std::make_unique<QtBackend>();
}

} // namespace kv::window
