#pragma once

// The typed board API: everything a front end does with a board, as calls that say what they
// do and return what they read or a BoardError. Nothing above connection/ needs the port, the
// frame buffers, a data trigger or a drain loop.
//
// Thread rule: a Board belongs to the owner thread of its session (see board_session.h) and
// every call is made there; a call waits on the wire and pumps that thread's events meanwhile
// (notifications, the line check, input changes). Other threads reach a board through its
// BoardWorker (board_worker.h), which runs their requests one at a time, in order. Only
// RequestStop may be called from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "connection/board_event.h"
#include "connection/board_identity.h"
#include "connection/loader_link.h"
#include "connection/port_ref.h"
#include "connection/result.h"
#include "connection/session_view.h"

namespace swb808 {

class BoardSession;
struct ConfigValues;

// Where to look for the board, in order: every rate on the first port, then the next port.
struct OpenRequest {
    std::vector<PortRef> ports;
    std::vector<int32_t> rates;
    // When set, a board answering with another identity key is not taken: the call fails
    // with OtherBoard and the port is let go.
    std::optional<std::string> expectedKey;
};

struct SupplyReading {
    int32_t raw = 0;
    double volts = 0;
    bool inRange = false;  // VccInRange(volts)
};

// The six configuration bytes as the board stores them (rate index, delays, flags).
using ConfigRecord = std::array<uint8_t, 6>;
// The record as the configuration controls hold it.
ConfigValues ConfigValuesOf(const ConfigRecord& record);

class Board {
  public:
    // A handle on `session`, which must outlive it. Several handles on one session see the
    // same board.
    explicit Board(BoardSession& session) : session_(session) {}

    // --- Finding and letting go ---
    // The window's scan over the request (wake byte and whole query per pair); on success the
    // board is connected and its input changes are reported as events.
    Result<BoardIdentity> Open(const OpenRequest& request);
    // Only opens `port` at `baud` and greets it with the wake byte, without a query: for a
    // single read or write on a board whose rate is known. No identity is known then.
    Result<void> Attach(const PortRef& port, int32_t baud);
    // "Close": the reset frame, "auto", disconnect, 2000 ms.
    Result<void> Close();
    // Lets the board go without a reset frame (the port closed, output discarded).
    void Release();
    // The reset frame, 2000 ms, then the board searched again on its port at `rates` (the
    // board may restart at a stored rate). A FoundAgain event when the same board answered;
    // OtherBoard (and let go) when another did.
    Result<BoardIdentity> Reset(const std::vector<int32_t>& rates);

    bool IsConnected() const;
    bool IsAttached() const;  // the port is open (connected, attached, or flashing)
    // The board that answered the last Open or Reset; nullopt when none is connected.
    std::optional<BoardIdentity> Identity() const;
    SessionState State() const;

    // --- Reads: one command, the reply wait, the reply checked for its code and length.
    // Input-change frames that come first are read past (and reported). ---
    // The whole query again: version, relays, inputs, identity, configuration, supply.
    Result<BoardRecords> ReadState();
    Result<uint8_t> ReadRelays();
    Result<uint8_t> ReadInputs();
    Result<SupplyReading> ReadSupply();
    Result<ConfigRecord> ReadConfig();

    // --- Writes: the board confirms none; a lost line is reported. ---
    Result<void> WriteRelays(uint8_t mask);
    // Relay n (1..8) on or off, the others as last known; BadArgument outside 1..8.
    Result<void> SetRelay(int relay, bool on);
    // Several relays in one frame: `on` set, `off` cleared, the others as last known.
    // BadArgument when a relay is in both.
    Result<void> SetRelays(uint8_t on, uint8_t off);
    // "Speichern": BadArgument when a value does not fit, before anything is sent.
    Result<void> WriteConfig(const ConfigValues& values);

    // The line: LineLost when the open port's device has vanished (the board is let go and
    // a Lost event published); nothing when no port is open.
    Result<void> CheckLine();

    // --- Events ---
    [[nodiscard]] BoardEvents::Subscription Subscribe(BoardEvents::Callback callback);

    // --- Flashing ---
    // The loader link of this board's session (Enter / Find, then blocks); firmware/ drives
    // the transfer on it. Busy while another transfer runs.
    Result<LoaderLink> Loader();

    // Any thread: a running Open, Reset or loader search stops before its next step. Sticky
    // until the next Open.
    void RequestStop();

    // For the firmware transfer only (its progress and boxes go through the session).
    BoardSession& Session() { return session_; }

  private:
    Result<void> Ready() const;  // NotConnected / Busy
    Result<void> Finish(bool ok, const std::string& what);
    BoardSession& session_;
};

}  // namespace swb808
