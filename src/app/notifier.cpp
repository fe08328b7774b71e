// Desktop notifications of what is worth telling about the updates.
#include "notifier.h"

#include "core.h"
#include "desktoppreferences.h"
#include "endpoints.h"
#include "redaction.h"
#include "settingskeys.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace vennacott {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A notification service may keep its texts in a history; the server's error text could quote the update
// key, so neither it nor the token ever reaches one.
QString withoutSecrets(Settings &settings, QString text)
{
    const QString key = settings.dnsLink().section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    for (const QString &secret : {key, settings.token()}) {
        if (!secret.isEmpty())
            text.replace(secret, kRedacted);
    }
    return text;
}

// The service reads a body as markup when it says so: the server's text in it is escaped to show as written.
QString escapedMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

} // namespace

QString shownName(Settings &settings)
{
    const QString hostname = settings.value(keys::kHostname).value_or(QString());
    return hostname.isEmpty() ? QStringLiteral("Vennacott DDNS") : hostname + endpoints::zoneSuffix();
}

NotificationText notificationText(Settings &settings, StatusEvent event, const UpdaterStatus &status,
                                  const QString &before, std::chrono::milliseconds interval)
{
    const QString name = shownName(settings);
    const QString line = statusLine(status, interval);
    NotificationText text;
    switch (event) {
    case StatusEvent::StartedFailing:
        text = {QCoreApplication::translate("Notifier", "Updates of %1 fail").arg(name), line};
        break;
    case StatusEvent::WorkingAgain:
        text = {QCoreApplication::translate("Notifier", "Updates of %1 work again").arg(name), line};
        break;
    case StatusEvent::AddressChanged:
        if (lastFamily(status) == AddressFamily::Any)
            text.summary =
                QCoreApplication::translate("Notifier", "%1 now points at %2").arg(name, status.knownAddress);
        else
            text.summary =
                QCoreApplication::translate("Notifier", "%1 now points at %2 over %3")
                    .arg(name, status.family(lastFamily(status)).knownAddress, familyLabel(lastFamily(status)));
        text.body =
            before.isEmpty() ? line : QCoreApplication::translate("Notifier", "The service saw %1 before.").arg(before);
        break;
    }
    return {withoutSecrets(settings, text.summary), withoutSecrets(settings, text.body)};
}

Notifier::Notifier(Core &core, DesktopPreferences &preferences, QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_core(core)
    , m_preferences(preferences)
    , m_bus(std::move(bus))
    , m_knownAddresses{core.updater().status().knownAddress, core.updater().status().ipv4.knownAddress,
                       core.updater().status().ipv6.knownAddress}
{
    connect(&m_core.updater(), &Updater::statusChanged, this, &Notifier::statusChanged);
    // Asked of a running service only: starting one just to ask would show nothing and cost at every start.
    QDBusMessage capabilities =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    capabilities.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(capabilities), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<QStringList> reply = *finished;
        finished->deleteLater();
        if (reply.isValid())
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
    });
}

Notifier::Subject Notifier::subjectOf(StatusEvent event)
{
    return event == StatusEvent::AddressChanged ? Address : Health;
}

void Notifier::statusChanged(const QList<StatusEvent> &events)
{
    const UpdaterStatus status = m_core.updater().status();
    // Per family: with updates over both, the address before is the one of the same family.
    const AddressFamily family = lastFamily(status);
    const QString now = family == AddressFamily::Any ? status.knownAddress : status.family(family).knownAddress;
    const QString before = std::exchange(m_knownAddresses[int(family)], now);
    if (events.isEmpty() || !m_preferences.notificationsEnabled())
        return;
    for (const StatusEvent event : events)
        notify(subjectOf(event),
               notificationText(m_core.settings(), event, status, before, m_core.updater().interval()));
}

void Notifier::notify(Subject subject, const NotificationText &text)
{
    Shown &shown = m_shown[subject];
    if (shown.sending) {
        shown.next = text;
        return;
    }
    shown.sending = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("vennacott-ddns")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Vennacott DDNS") << shown.id << QStringLiteral("vennacott-ddns") << text.summary
         << (m_bodyMarkup ? escapedMarkup(text.body) : text.body) << QStringList() << hints << -1;
    // Asynchronous: a slow or absent service never holds up the window.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, subject](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<uint> reply = *finished;
        finished->deleteLater();
        Shown &shown = m_shown[subject];
        if (reply.isValid())
            shown.id = reply.value();
        shown.sending = false;
        if (shown.next)
            notify(subject, *std::exchange(shown.next, std::nullopt));
    });
}

} // namespace vennacott
