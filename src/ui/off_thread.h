// Blocking work (an HTTP request) on a worker thread while the user-interface thread goes on
// handling events, so no window freezes and a Cancel click is seen at once.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace zibu {

// Runs `work` on a worker thread and handles the calling thread's events until it returns; its
// result or exception comes back here. After each round of events `cancelled` is asked (callers
// include the program's shutdown in it); once it answers true the flag handed to `work` turns
// true, and the work is expected to end early.
std::string RunOffThread(const std::function<std::string(const std::atomic<bool>& cancel)>& work,
                         const std::function<bool()>& cancelled);

}  // namespace zibu
