// What the window's thread does while a survey waits for slow volumes.
// The waits of a survey run in short slices and call the hook between them;
// the report window sets a hook that repaints its windows and drops the
// input that arrives meanwhile, so the window looks alive but takes no
// clicks (and queues no further surveys).
#pragma once

#include <chrono>
#include <functional>

namespace drives {

// The longest a survey's wait goes without running the hook.
inline constexpr std::chrono::milliseconds kWaitSlice{25};

// Replaces the hook (an empty function: none).
void SetWhileWaiting(std::function<void()> hook);

// Runs the hook, if there is one.
void WhileWaiting();

}  // namespace drives
