#include "cli/interrupt.h"

#include <signal.h>

#include <atomic>

#include "protocol/paced_wait.h"

namespace swb808::cli {

namespace {

std::atomic<int> interrupts{0};
std::atomic<bool> hungUp{false};
std::atomic<bool> outputLost{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free flags");

struct PhaseState {
    std::function<bool()> inBlocks;
    bool told = false;
    std::function<void()> onFirstInterrupt;
};
thread_local PhaseState phase;

extern "C" void NoteSignal(int sig) {
    if (sig == SIGHUP)
        hungUp.store(true, std::memory_order_relaxed);
    else
        interrupts.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void InstallInterruptHandling() {
    struct sigaction sa {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a system call that blocks returns, and its caller looks at the flags.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A reader that went away shows as EPIPE on the write, which the output handles.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Every wait of the protocol turns through the pump, so a Ctrl-C is seen within 10 ms.
    SetEventPump(InterruptPump());
}

EventPump InterruptPump() {
    return [] { ThrowIfInterrupted(); };
}

int InterruptCount() {
    return interrupts.load(std::memory_order_relaxed);
}

bool StopRequested() {
    return InterruptCount() > 0 || hungUp.load(std::memory_order_relaxed) ||
           outputLost.load(std::memory_order_relaxed);
}

bool SignalArrived() {
    return InterruptCount() > 0 || hungUp.load(std::memory_order_relaxed);
}

void NoteOutputLost() {
    outputLost.store(true, std::memory_order_relaxed);
}

void ThrowIfInterrupted() {
    const int n = InterruptCount();
    const bool hup = hungUp.load(std::memory_order_relaxed);
    const bool lost = outputLost.load(std::memory_order_relaxed);
    if (n == 0 && !hup && !lost) return;
    if (!phase.inBlocks || !phase.inBlocks()) {
        if (n == 0 && !hup) throw OutputLost();
        throw Interrupted();
    }
    // The first reason only warns; only a Ctrl-C after it aborts the blocks.
    const int reasons = n + (hup ? 1 : 0) + (lost ? 1 : 0);
    if (n >= 1 && reasons >= 2) throw Interrupted();
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
    hungUp.store(false, std::memory_order_relaxed);
    outputLost.store(false, std::memory_order_relaxed);
}

}  // namespace swb808::cli
