// The application delegate: launch and termination, and the periodic address update.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class QTimer;

namespace vennacott {

inline constexpr std::chrono::milliseconds kUpdateInterval{10'000};

struct UpdaterOptions
{
    std::chrono::milliseconds interval = kUpdateInterval;
    QString updateBaseUrl; // empty: the update server the client is built for
};

class AppDelegate final : public QObject
{
    Q_OBJECT
public:
    explicit AppDelegate(UpdaterOptions options = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts the repeating update timer; the first update comes one interval later.
    void applicationDidFinishLaunching();
    // Nothing to do: no last update and no save happen here.
    void applicationWillTerminate();
    // One tick: request the stored update link, if there is one, from the background queue.
    void UpdateIP(QTimer *timer);

private:
    const UpdaterOptions m_options;
};

} // namespace vennacott
