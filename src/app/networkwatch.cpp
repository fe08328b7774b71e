// An update as soon as it can go through again.
#include "networkwatch.h"

#include <QDBusConnection>

namespace vennacott {

bool reachabilityCameBack(QNetworkInformation::Reachability before, QNetworkInformation::Reachability after)
{
    using Reachability = QNetworkInformation::Reachability;
    return after == Reachability::Online && before != Reachability::Online && before != Reachability::Unknown;
}

NetworkWatch::NetworkWatch(QObject *parent)
    : QObject(parent)
{
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        QNetworkInformation *information = QNetworkInformation::instance();
        m_reachability = information->reachability();
        connect(information, &QNetworkInformation::reachabilityChanged, this, &NetworkWatch::reachabilityChanged);
    }
    // Only logind itself may say that the machine woke.
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.login1"),
                                         QStringLiteral("/org/freedesktop/login1"),
                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                         QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void NetworkWatch::reachabilityChanged(QNetworkInformation::Reachability reachability)
{
    const QNetworkInformation::Reachability before = std::exchange(m_reachability, reachability);
    if (reachabilityCameBack(before, reachability))
        Q_EMIT updateWanted();
}

void NetworkWatch::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        Q_EMIT updateWanted();
}

} // namespace vennacott
