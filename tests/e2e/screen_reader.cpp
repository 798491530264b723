// Prints what a program's windows say, read through the desktop's
// accessibility service (AT-SPI on D-Bus), the way a screen reader reads them.
// The end-to-end tests use it because texts and enabled states cannot be read
// from the windows themselves: the program must run with accessibility on
// (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1) on the same session bus.
//   kv_e2e_reader --ready      starts the accessibility bus; exits 0 when it answers
//   kv_e2e_reader boxes PID    for each message box of process PID: its
//                              caption, then each line of its text; a line
//                              "--" ends a box. Exit 1 when it shows none.
//   kv_e2e_reader window PID   one line per control of the process's main
//                              window: role, "enabled" or "disabled", "shown"
//                              or "hidden", and its text, separated by tabs.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include <cstdio>
#include <cstring>

namespace {

// An accessible object: the bus name of its application and its path.
struct Ref {
    QString service;
    QDBusObjectPath path;
};

QDBusArgument& operator<<(QDBusArgument& a, const Ref& r) {
    a.beginStructure();
    a << r.service << r.path;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, Ref& r) {
    a.beginStructure();
    a >> r.service >> r.path;
    a.endStructure();
    return a;
}

} // namespace

Q_DECLARE_METATYPE(Ref)

namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr unsigned kRoleAlert = 2;  // AT-SPI's role of a message box
constexpr unsigned kRoleLabel = 29; // of a label
constexpr unsigned kStateEnabled = 8, kStateShowing = 25;

QDBusMessage call(QDBusConnection& bus, const Ref& r, const char* interface, const char* method,
                  const QList<QVariant>& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(r.service, r.path.path(), interface, method);
    m.setArguments(args);
    return bus.call(m, QDBus::Block, 5000);
}

QList<Ref> children(QDBusConnection& bus, const Ref& r) {
    QList<Ref> out;
    QDBusMessage reply = call(bus, r, kAccessible, "GetChildren");
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        reply.arguments().at(0).value<QDBusArgument>() >> out;
    return out;
}

QString name(QDBusConnection& bus, const Ref& r) {
    QDBusMessage reply =
        call(bus, r, "org.freedesktop.DBus.Properties", "Get", {QString(kAccessible), QString("Name")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant().toString();
}

unsigned role(QDBusConnection& bus, const Ref& r) {
    QDBusMessage reply = call(bus, r, kAccessible, "GetRole");
    return reply.arguments().isEmpty() ? 0 : reply.arguments().at(0).toUInt();
}

void print(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::printf("%s\n", bytes.constData());
}

// The texts of a box are its labels with a name; the icon's label has none.
void print_texts(QDBusConnection& bus, const Ref& r) {
    for (const Ref& c : children(bus, r)) {
        if (role(bus, c) == kRoleLabel) {
            const QString text = name(bus, c);
            if (!text.isEmpty()) print(text);
        }
    }
}

QString role_name(QDBusConnection& bus, const Ref& r) {
    QDBusMessage reply = call(bus, r, kAccessible, "GetRoleName");
    return reply.arguments().isEmpty() ? QString() : reply.arguments().at(0).toString();
}

bool has_state(QDBusConnection& bus, const Ref& r, unsigned state) {
    QDBusMessage reply = call(bus, r, kAccessible, "GetState");
    if (reply.arguments().isEmpty()) return false;
    QList<uint> words;
    reply.arguments().at(0).value<QDBusArgument>() >> words;
    return state / 32 < unsigned(words.size()) && (words[state / 32] >> (state % 32)) & 1;
}

// A control's text: what it shows (an edit field's or a log's content), else its name.
QString text_of(QDBusConnection& bus, const Ref& r) {
    QDBusMessage reply = call(bus, r, "org.a11y.atspi.Text", "GetText", {0, -1});
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QString text = reply.arguments().at(0).toString();
        if (!text.isEmpty()) return text;
    }
    return name(bus, r);
}

void print_controls(QDBusConnection& bus, const Ref& r) {
    for (const Ref& c : children(bus, r)) {
        QString text = text_of(bus, c);
        text.replace('\n', "\\n");
        print(role_name(bus, c) + "\t" + (has_state(bus, c, kStateEnabled) ? "enabled" : "disabled") + "\t" +
              (has_state(bus, c, kStateShowing) ? "shown" : "hidden") + "\t" + text);
        print_controls(bus, c);
    }
}

// The main window: the application's top-level object that is not a box.
int find_window(QDBusConnection& bus, const Ref& application) {
    for (const Ref& c : children(bus, application)) {
        if (role(bus, c) != kRoleAlert) {
            print_controls(bus, c);
            return 1;
        }
    }
    return 0;
}

int find_boxes(QDBusConnection& bus, const Ref& r, int depth) {
    int found = 0;
    for (const Ref& c : children(bus, r)) {
        if (role(bus, c) == kRoleAlert) {
            print(name(bus, c));
            print_texts(bus, c);
            print("--");
            ++found;
        } else if (depth < 3) {
            found += find_boxes(bus, c, depth + 1);
        }
    }
    return found;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Ref>();
    qDBusRegisterMetaType<QList<Ref>>();
    const bool ready = argc == 2 && std::strcmp(argv[1], "--ready") == 0;
    const bool boxes = argc == 3 && std::strcmp(argv[1], "boxes") == 0;
    const bool window = argc == 3 && std::strcmp(argv[1], "window") == 0;
    if (!ready && !boxes && !window) {
        std::fprintf(stderr, "usage: kv_e2e_reader --ready | boxes PID | window PID\n");
        return 2;
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    QDBusMessage address = session.call(
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"),
        QDBus::Block, 10000);
    if (address.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "no accessibility bus: %s\n", address.errorMessage().toUtf8().constData());
        return 1;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(address.arguments().at(0).toString(), "a11y");
    const Ref registry{"org.a11y.atspi.Registry", QDBusObjectPath("/org/a11y/atspi/accessible/root")};
    if (ready) {
        QDBusMessage reply = call(bus, registry, kAccessible, "GetChildren");
        return reply.type() == QDBusMessage::ReplyMessage ? 0 : 1;
    }
    const uint pid = QString(argv[2]).toUInt();
    int found = 0;
    for (const Ref& application : children(bus, registry)) {
        QDBusReply<uint> owner = bus.interface()->servicePid(application.service);
        if (!owner.isValid() || owner.value() != pid) continue;
        found += boxes ? find_boxes(bus, application, 0) : find_window(bus, application);
    }
    return found > 0 ? 0 : 1;
}
