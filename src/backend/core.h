// The client's core for one setup: its settings, the account and host operations, and the updater. The
// window and the command line drive it and show what it reports; neither stores, schedules or decides.
#pragma once

#include "session.h"
#include "settings.h"
#include "updater.h"

#include <QObject>

#include <chrono>

namespace vennacott {

class Core final : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString settingsPath;                   // empty: the user's settings file
        std::chrono::milliseconds lockWait{10}; // how long a settings write may wait for another writer
        std::chrono::milliseconds interval = kUpdateInterval;
        QString updateBaseUrl; // empty: the update server the client is built for
    };

    explicit Core(Options options, QObject *parent = nullptr);
    ~Core() override;

    Settings &settings() { return m_settings; }
    Session &session() { return m_session; }
    Updater &updater() { return m_updater; }

private:
    Settings m_settings;
    Session m_session;
    Updater m_updater;
};

} // namespace vennacott
