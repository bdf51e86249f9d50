#pragma once

#include <functional>

namespace swb808 {

// Processes the events that are pending for the calling thread (the window installs
// QCoreApplication::processEvents, a plain logic thread its TLogicQueue). Without one
// installed, waits only sleep.
using EventPump = std::function<void()>;

// Installs the pump used by every PacedWait on the calling thread; returns that thread's
// previous one. Each thread has its own: two sessions on two threads never pump each other's
// events.
EventPump SetEventPump(EventPump pump);

// Runs the calling thread's pump once (used by waits outside PacedWait, a port close say).
void PumpEvents();

// Installs a pump on the calling thread for its lifetime and puts the previous one back.
class ScopedEventPump {
  public:
    explicit ScopedEventPump(EventPump pump) : previous_(SetEventPump(std::move(pump))) {}
    ~ScopedEventPump() { SetEventPump(std::move(previous_)); }
    ScopedEventPump(const ScopedEventPump&) = delete;
    ScopedEventPump& operator=(const ScopedEventPump&) = delete;

  private:
    EventPump previous_;
};

// Waits `ms` milliseconds on the monotonic clock. Each turn first processes all pending
// events of the calling thread, then sleeps 10 ms (the last turn only up to the deadline), so
// handlers may run nested inside the wait. ms <= 0 returns at once without processing
// anything.
void PacedWait(int ms);

}  // namespace swb808
