// Where the files that belong to one setup live. A setup is one settings file: two programs on the same
// settings file share one updater, and a different settings file (another XDG_CONFIG_HOME, another
// user) is a setup of its own.
#pragma once

#include <QString>

namespace vennacott::setup {

// The settings file in use.
QString settingsFilePath();

// Held by the process that sends the updates for this setup (the window or the command line's run).
QString updaterLockPath();
// Held by the window of this setup; a second window hands over to it through the socket.
QString windowLockPath();
// The socket lies beside the settings, or, where that path is too long for a socket, in a private folder
// (0700, the user's own) under $XDG_RUNTIME_DIR or the cache folder.
QString windowSocketPath();

// The running updater's status, for the other program and the command line's status. An atomically
// replaced file under $XDG_RUNTIME_DIR/vennacott-ddns (else $XDG_STATE_HOME), named after the settings file's
// location.
QString statusFilePath();

// What the updater of this setup saw change: $XDG_STATE_HOME/vennacott-ddns/history-<setup>.jsonl.
QString historyFilePath();

} // namespace vennacott::setup
