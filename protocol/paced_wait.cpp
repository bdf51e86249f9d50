#include "protocol/paced_wait.h"

#include <chrono>
#include <thread>
#include <utility>

namespace swb808 {

namespace {
// Each thread pumps its own events: sessions on two threads never run each other's handlers.
EventPump& installedPump() {
    thread_local EventPump pump;
    return pump;
}
}  // namespace

EventPump SetEventPump(EventPump pump) {
    return std::exchange(installedPump(), std::move(pump));
}

void PumpEvents() {
    if (auto& pump = installedPump()) pump();
}

void PacedWait(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    constexpr auto turn = std::chrono::milliseconds(10);
    while (Clock::now() < deadline) {
        PumpEvents();
        // The last turn sleeps only up to the deadline: a full turn would stretch every wait
        // that is not a multiple of 10 ms (2 ms at 115200 Bd would become 10 ms).
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) break;
        std::this_thread::sleep_for(left < turn ? left : Clock::duration(turn));
    }
}

}  // namespace swb808
