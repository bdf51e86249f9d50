#pragma once

// One board on one port for the tool: a session (the window's logic below the window) on the
// calling thread, with that thread's event pump running the session's notifications and
// timers and looking for Ctrl-C. Each command opens its own; several boards are several links
// on several threads.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/port_target.h"
#include "connection/board.h"
#include "connection/board_session.h"
#include "connection/logic_queue.h"
#include "connection/session_view.h"
#include "serial/notification_target.h"

namespace swb808::cli {

// What the tool listens to of a session.
class LinkView : public SessionView {
  public:
    std::function<void(int, int)> onBlocks;
    std::function<void(const std::string&)> onStatus;

    void BlocksDone(int done, int count) override {
        if (onBlocks) onBlocks(done, count);
    }
    void StatusText(const std::string& text) override {
        if (onStatus) onStatus(text);
    }
};

class BoardLink {
  public:
    explicit BoardLink(PortTarget target);
    ~BoardLink();  // closes the port without waiting and without a reset
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    const PortTarget& Target() const { return target_; }
    PortRef Ref() const { return target_.Ref(); }
    // The rate the board answered at; 0 before.
    int Baud() const { return baud_; }
    Board& Api() { return board_; }
    // The records as the last query or read left them.
    BoardRecords Records() const { return board_.Records(); }
    LinkView& View() { return view_; }

    // Opens the port at `baud` and greets the board with the wake byte, without a query.
    // Throws CliFailure(PortError) with the one-line reason (missing, in use, no permission,
    // line lost).
    void Attach(int baud);
    // The window's scan on this port over `rates`: open, wake and the whole query per rate;
    // the session is then connected. False when no rate answered; port failures throw.
    bool Connect(const std::vector<int>& rates);

    // Single reads at the rate Attach set; false when no valid reply came, a lost line throws.
    // The value lands in Records(); an input-change frame that arrives first is read past.
    bool ReadRelays();
    bool ReadInputs();
    bool ReadConfig();
    bool ReadSupply();
    // The firmware version, raw; nullopt when it did not answer.
    std::optional<std::string> ReadVersion();

    // The board confirms no write, so each returns once its frame has left.
    void WriteRelays(uint8_t mask);
    void WriteConfig(const ConfigValues& values);
    // "Reset": the reset frame, 2000 ms, then the board searched again on this port at
    // `rates` (the one it most likely restarts at first). False when it did not answer.
    bool Reset(const std::vector<int>& rates);

    // From now on the board's input-change frames come as events. Before a read, so
    // that no change between the read and the listening is missed.
    void ListenForInputChanges();
    // Runs the session's events until `done` or `deadline`; false at the deadline.
    bool WaitUntil(const std::function<bool()>& done,
                   std::chrono::steady_clock::time_point deadline);
    // `ms` of the session's events, then the line check.
    void Wait(int ms);

    // Throws CliFailure(PortError) when the device vanished.
    void ThrowIfLineLost();
    // The device vanished while it was last open (also after the port was closed).
    bool LineWasLost() const { return !board_.LineLostText().empty(); }
    std::string LineLostText() const;
    // The tool's failure for an error of the board's API, naming this link's port.
    CliFailure FailureOf(const BoardError& error) const;

  private:
    // A read's result: the value, or nullopt for no answer; other errors throw.
    template <class T>
    std::optional<T> Answer(Result<T> result);
    void Check(const Result<void>& result) const;

    PortTarget target_;
    LinkView view_;
    std::shared_ptr<TLogicQueue> queue_;
    ScopedEventPump pump_;
    BoardSession session_;
    Board board_{session_};
    THandlerErrorReporter previousReporter_;
    int baud_ = 0;
};

// The rates in search order with `first` in front.
std::vector<int> RatesStartingWith(int first);
std::vector<int> AllRates();

}  // namespace swb808::cli
