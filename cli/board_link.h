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

#include "cli/port_target.h"
#include "connection/board_session.h"
#include "connection/logic_queue.h"
#include "connection/session_view.h"

namespace swb808::cli {

// What the tool listens to of a session.
class LinkView : public SessionView {
  public:
    std::function<void(uint8_t)> onInputs;
    std::function<void(int, int)> onBlocks;
    std::function<void(const std::string&)> onStatus;

    void InputsShown(uint8_t mask) override {
        if (onInputs) onInputs(mask);
    }
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
    BoardSession& Session() { return session_; }
    TSWB808Protocol& Protocol() { return session_.Protocol(); }
    TSerialPort& Port() { return session_.Port(); }
    LinkView& View() { return view_; }

    // Opens the port at `baud` as the window's scan does (10 ms before and after). Throws
    // CliFailure(PortError) with the one-line reason (missing, in use, no permission, ...).
    void Open(int baud);
    // The wake byte 0xDF, waiting until it has left: how every pair is greeted.
    void Wake();
    // The window's scan on this port over `rates`: open, wake and the whole query per rate;
    // the session is then connected. False when no rate answered; port failures throw.
    bool Connect(const std::vector<int>& rates);

    // Single reads at the rate Open set; true when the reply has the command's code and
    // length. The value lands in the protocol's records (RelayState, OptoState,
    // DeviceConfig, VccRaw). An input-change frame that arrives first updates OptoState and is read
    // past.
    bool ReadRelays();
    bool ReadInputs();
    bool ReadConfig();
    bool ReadSupply();
    // The firmware version into FirmwareVersion.
    bool ReadVersion();

    // Writes through the session; the board confirms none of them, so each returns once its
    // frame has left.
    void WriteRelays(uint8_t mask);
    void WriteConfig(const ConfigValues& values);
    // "Reset": the reset frame, 2000 ms, then the board searched again on this port at
    // `rates` (the one it most likely restarts at first). False when it did not answer.
    bool Reset(const std::vector<int>& rates);

    // From now on the board's input-change frames reach View().onInputs. Before a read, so
    // that no change between the read and the listening is missed.
    void ListenForInputChanges();
    // Runs the session's events until `done` or `deadline`; false at the deadline.
    bool WaitUntil(const std::function<bool()>& done,
                   std::chrono::steady_clock::time_point deadline);

    // Throws CliFailure(PortError) when the device vanished.
    void ThrowIfLineLost();
    // The device vanished while it was last open (also after the port was closed).
    bool LineWasLost();
    std::string LineLostText();

  private:
    [[noreturn]] void ThrowOpenFailure();
    void Drain();
    bool Read(uint8_t command, int32_t replyLength, int expectedLength);

    PortTarget target_;
    LinkView view_;
    std::shared_ptr<TLogicQueue> queue_;
    ScopedEventPump pump_;
    BoardSession session_;
    int baud_ = 0;
    bool listening_ = false;  // the input-change trigger is registered
};

// The rates in search order with `first` in front.
std::vector<int> RatesStartingWith(int first);
std::vector<int> AllRates();

}  // namespace swb808::cli
