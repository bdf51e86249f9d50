#include "cli/interrupt.h"

#include <signal.h>

#include <atomic>

#include "protocol/paced_wait.h"

namespace swb808::cli {

namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

struct PhaseState {
    std::function<bool()> inBlocks;
    bool told = false;
    std::function<void()> onFirstInterrupt;
};
thread_local PhaseState phase;

extern "C" void CountInterrupt(int) {
    interrupts.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void InstallInterruptHandling() {
    struct sigaction sa {};
    sa.sa_handler = CountInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Every wait of the protocol turns through the pump, so a Ctrl-C is seen within 10 ms.
    SetEventPump(InterruptPump());
}

EventPump InterruptPump() {
    return [] { ThrowIfInterrupted(); };
}

int InterruptCount() {
    return interrupts.load(std::memory_order_relaxed);
}

void ThrowIfInterrupted() {
    const int n = InterruptCount();
    if (n == 0) return;
    if (!phase.inBlocks || !phase.inBlocks()) throw Interrupted();
    if (n >= 2) throw Interrupted();
    if (!phase.told) {
        phase.told = true;
        if (phase.onFirstInterrupt) phase.onFirstInterrupt();
    }
}

BlockPhaseWatch::BlockPhaseWatch(std::function<bool()> inBlocks,
                                 std::function<void()> onFirstInterrupt) {
    phase = PhaseState{std::move(inBlocks), false, std::move(onFirstInterrupt)};
}

BlockPhaseWatch::~BlockPhaseWatch() {
    phase = PhaseState{};
}

void ResetInterruptCount() {
    interrupts.store(0, std::memory_order_relaxed);
}

}  // namespace swb808::cli
