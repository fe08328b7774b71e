// A small StatusNotifierWatcher with a host, as a desktop panel provides, for the tray icon's test and the benchmark,
// with only what Qt's tray icon asks of one. It reports on standard output, one line each: "ready", "registered
// <service>", "tooltip <title>" (line feeds as "\n") and "icon <digest>", read again whenever the item announces
// a change. A line "activate" on standard input clicks the item.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kItemPath = QStringLiteral("/StatusNotifierItem"); // where Qt's item is, under the service it names

void say(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// The pixmaps of an icon, a(iiay): their bytes, one after the other.
QByteArray pixmapBytes(const QDBusArgument &argument)
{
    QByteArray bytes;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
        bytes += data;
    }
    argument.endArray();
    return bytes;
}

class Watcher final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool isHostRegistered() const { return true; }

    void activate()
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_service, kItemPath, kItemInterface, "Activate");
        if (!m_service.isEmpty())
            bus().call(call << 0 << 0, QDBus::NoBlock);
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service)
    {
        m_service = service;
        say(QStringLiteral("registered ") + service);
        bus().connect(m_service, kItemPath, kItemInterface, "NewToolTip", this, SLOT(readToolTip()));
        bus().connect(m_service, kItemPath, kItemInterface, "NewIcon", this, SLOT(readIcon()));
        readToolTip();
        readIcon();
    }

    void readToolTip()
    {
        read(QStringLiteral("ToolTip"), [](const QDBusArgument &argument) {
            QString icon, title, text;
            argument.beginStructure();
            argument >> icon;
            pixmapBytes(argument);
            argument >> title >> text;
            argument.endStructure();
            say(QStringLiteral("tooltip ") + title.replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        });
    }

    void readIcon()
    {
        read(QStringLiteral("IconPixmap"), [](const QDBusArgument &argument) {
            const QByteArray digest = QCryptographicHash::hash(pixmapBytes(argument), QCryptographicHash::Sha1);
            say(QStringLiteral("icon ") + QString::fromLatin1(digest.toHex().left(12)));
        });
    }

private:
    static QDBusConnection bus() { return QDBusConnection::sessionBus(); }

    template<typename Reader>
    void read(const QString &property, Reader reader)
    {
        QDBusMessage get =
            QDBusMessage::createMethodCall(m_service, kItemPath, "org.freedesktop.DBus.Properties", "Get");
        get << kItemInterface << property;
        auto *watcher = new QDBusPendingCallWatcher(bus().asyncCall(get), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [reader](QDBusPendingCallWatcher *call) {
            const QDBusMessage reply = call->reply();
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                reader(reply.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>());
            call->deleteLater();
        });
    }

    QString m_service;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid()))) {
        std::fprintf(stderr, "snihost: cannot take the watcher's name: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &watcher, [&] {
        char line[64];
        const ssize_t size = ::read(STDIN_FILENO, line, sizeof line);
        if (size <= 0)
            input.setEnabled(false); // the end of the input: nothing more to do
        else if (QByteArray(line, int(size)).startsWith("activate"))
            watcher.activate();
    });
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "snihost.moc"
