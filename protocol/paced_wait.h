#pragma once

#include <functional>

namespace swb808 {

// Processes the events that are pending for the logic thread (the window installs
// QCoreApplication::processEvents). Without one installed, waits only sleep.
using EventPump = std::function<void()>;

// Installs the pump used by every PacedWait; returns the previous one. Logic thread only.
EventPump SetEventPump(EventPump pump);

// Runs the installed pump once (used by waits outside PacedWait, for instance a port close).
void PumpEvents();

// Waits `ms` milliseconds on the monotonic clock. Each turn first processes all pending
// events, then sleeps 10 ms (the last turn only up to the deadline), so handlers may run
// nested inside the wait. ms <= 0 returns at once without processing anything. Logic thread
// only.
void PacedWait(int ms);

}  // namespace swb808
