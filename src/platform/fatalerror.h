// The end of the process for a state it cannot go on from.
#pragma once

#include <QStringView>

namespace vennacott {

// Writes "Fatal error: " and the message as one line on standard error and ends the process at once with
// status 1. Nothing else runs: no destructors, no exit handlers, no last save.
[[noreturn]] void fatalError(QStringView message);

} // namespace vennacott
