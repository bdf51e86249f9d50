#pragma once

// Ctrl-C for a tool whose waits all run the thread's event pump: the signal handler only counts,
// and every wait turn looks at the count. Outside a block transfer the first Ctrl-C ends the
// command at once (the wait throws Interrupted, the port object closes the port as it
// unwinds); inside one, the first only warns and the second aborts.
// SIGTERM counts as Ctrl-C. A hang-up (SIGHUP) and a lost stdout (EPIPE or a write error;
// SIGPIPE is ignored) end the command the same way, but inside a block transfer they never
// abort it: a board must not be left half-flashed because a session or a pipe went away.

#include <functional>
#include <stdexcept>

#include "protocol/paced_wait.h"

namespace swb808::cli {

class Interrupted : public std::runtime_error {
  public:
    Interrupted() : std::runtime_error("interrupted") {}

  protected:
    explicit Interrupted(const std::string& what) : std::runtime_error(what) {}
};

// The command was ended because stdout can no longer be written.
class OutputLost : public Interrupted {
  public:
    OutputLost() : Interrupted("stdout lost") {}
};

// Installs the SIGINT/SIGTERM/SIGHUP handler (without SA_RESTART), ignores SIGPIPE, and sets and
// the calling thread's wait hook. Call once, before any thread starts.
void InstallInterruptHandling();

// The wait hook for a thread of its own (each thread pumps its own waits):
//     ScopedEventPump pump(InterruptPump());
EventPump InterruptPump();

// How many Ctrl-Cs (SIGINT, SIGTERM) have arrived (async-signal-safe counter).
int InterruptCount();
// Any reason to stop has arrived: a Ctrl-C, a hang-up or a lost stdout.
bool StopRequested();
// A Ctrl-C, SIGTERM or hang-up has arrived (a lost stdout is no signal).
bool SignalArrived();
// Called by the output when stdout cannot be written any more.
void NoteOutputLost();

// Throws Interrupted (OutputLost for a lost stdout) when this thread should stop now: any
// reason outside a block phase; inside one, a Ctrl-C after any earlier reason.
void ThrowIfInterrupted();

// While it lives, this thread is in a block transfer whenever `inBlocks()` says so; then the
// first reason only runs `onFirstInterrupt` (on this thread, once) and a Ctrl-C after it ends it.
class BlockPhaseWatch {
  public:
    BlockPhaseWatch(std::function<bool()> inBlocks, std::function<void()> onFirstInterrupt);
    ~BlockPhaseWatch();
    BlockPhaseWatch(const BlockPhaseWatch&) = delete;
    BlockPhaseWatch& operator=(const BlockPhaseWatch&) = delete;
};

// For tests: forget earlier Ctrl-Cs, hang-ups and lost output.
void ResetInterruptCount();

}  // namespace swb808::cli
