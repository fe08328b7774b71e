// An update as soon as it can go through again: when the network comes back and when the machine wakes.
#pragma once

#include <QNetworkInformation>
#include <QObject>

namespace vennacott {

// True when reachability came back: Online after a report of being offline or only partly connected. The
// first report after launch (from Unknown) is the state at launch, not a change.
bool reachabilityCameBack(QNetworkInformation::Reachability before, QNetworkInformation::Reachability after);

// Listens to what the system reports (Qt's network information backend, logind on the system bus) and
// asks for one update per event. Where the system reports neither, it stays silent.
class NetworkWatch final : public QObject
{
    Q_OBJECT
public:
    explicit NetworkWatch(QObject *parent = nullptr);

Q_SIGNALS:
    void updateWanted();

private Q_SLOTS:
    // logind's PrepareForSleep: true before the machine sleeps, false once it has woken.
    void prepareForSleep(bool sleeping);

private:
    void reachabilityChanged(QNetworkInformation::Reachability reachability);

    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
};

} // namespace vennacott
