#pragma once

// Ctrl-C for a tool whose waits all run through PacedWait: the signal handler only counts,
// and every wait turn looks at the count. Outside a block transfer the first Ctrl-C ends the
// command at once (the wait throws Interrupted, the port object closes the port as it
// unwinds); inside one, the first only warns and the second aborts.

#include <functional>
#include <stdexcept>

#include "protocol/paced_wait.h"

namespace swb808::cli {

class Interrupted : public std::runtime_error {
  public:
    Interrupted() : std::runtime_error("interrupted") {}
};

// Installs the SIGINT/SIGTERM handler and the calling thread's wait hook. Call once, before
// any thread starts.
void InstallInterruptHandling();

// The wait hook for a thread of its own (each thread pumps its own waits):
//     ScopedEventPump pump(InterruptPump());
EventPump InterruptPump();

// How many Ctrl-Cs have arrived (async-signal-safe counter).
int InterruptCount();

// Throws Interrupted when this thread should stop now: one Ctrl-C outside a block phase, two
// inside one.
void ThrowIfInterrupted();

// While it lives, this thread is in a block transfer whenever `inBlocks()` says so; then the
// first Ctrl-C only runs `onFirstInterrupt` (on this thread, once) and the second ends it.
class BlockPhaseWatch {
  public:
    BlockPhaseWatch(std::function<bool()> inBlocks, std::function<void()> onFirstInterrupt);
    ~BlockPhaseWatch();
    BlockPhaseWatch(const BlockPhaseWatch&) = delete;
    BlockPhaseWatch& operator=(const BlockPhaseWatch&) = delete;
};

// For tests: forget earlier Ctrl-Cs.
void ResetInterruptCount();

}  // namespace swb808::cli
