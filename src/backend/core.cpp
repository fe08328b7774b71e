// The client's core for one setup.
#include "core.h"

namespace vennacott {

Core::Core(Options options, QObject *parent)
    : QObject(parent)
    , m_settings(options.settingsPath.isEmpty() ? Settings::defaultFilePath() : options.settingsPath, options.lockWait)
    , m_session(m_settings)
    , m_updater(m_settings, options.interval, options.updateBaseUrl)
{}

Core::~Core() = default;

} // namespace vennacott
