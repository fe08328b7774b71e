// Application-wide window operations and the immediate end of the process.
#pragma once

namespace vennacott::windows {

// Minimises every visible top-level window of the application; the program keeps running.
void miniaturizeAll();

// Ends the process at once with `status`, without the orderly termination sequence. Static destructors
// are skipped on purpose: the network thread may still be delivering while they would run.
[[noreturn]] void exitNow(int status);

} // namespace vennacott::windows
