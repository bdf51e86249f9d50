#include "protocol/paced_wait.h"

#include <chrono>
#include <thread>
#include <utility>

namespace swb808 {

namespace {
EventPump& installedPump() {
    static EventPump pump;
    return pump;
}
}  // namespace

EventPump SetEventPump(EventPump pump) { return std::exchange(installedPump(), std::move(pump)); }

void PumpEvents() {
    if (auto& pump = installedPump()) pump();
}

void PacedWait(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        PumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace swb808
