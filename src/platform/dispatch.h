// The main queue.
#pragma once

#include <functional>

namespace vennacott::dispatch {

// Runs `work` on the GUI thread on a later turn of its event loop, also when called from that thread.
void mainAsync(std::function<void()> work);

} // namespace vennacott::dispatch
