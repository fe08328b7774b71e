// What systemd hears of run: ready once the settings are read, one status line after every update, and the
// watchdog's keep-alive from the updater's own thread. Outside a service (no NOTIFY_SOCKET) nothing is sent.
#pragma once

#include "core.h"

#include <QObject>

class QTimer;

namespace vennacott::ctl {

// "updated 19:03 UTC, 203.0.113.7", "no answer since 19:01 UTC", "waiting for a host name" and the like.
QString serviceStatusLine(const UpdaterStatus &status, const QString &link);

// A server's error text as shown: the update key, should the text repeat it, redacted.
QString errorWithoutKey(const QString &error, const QString &link);

class SystemdNotifier final : public QObject
{
    Q_OBJECT
public:
    explicit SystemdNotifier(Core &core, QObject *parent = nullptr);

    // READY=1 with the first status; from then on the status follows the updater and the settings.
    void ready();

private:
    void sendStatus();

    Core &m_core;
    QTimer *m_watchdog = nullptr;
};

} // namespace vennacott::ctl
