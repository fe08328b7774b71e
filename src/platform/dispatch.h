// The main queue and the background work queue.
#pragma once

#include <functional>

namespace vennacott::dispatch {

// Runs `work` on the GUI thread on a later turn of its event loop, also when called from that thread.
void mainAsync(std::function<void()> work);

// Runs `work` on a pool thread of the lowest priority.
void backgroundAsync(std::function<void()> work);

// Waits for queued background work to finish; at shutdown and in tests.
void drainBackground();

} // namespace vennacott::dispatch
