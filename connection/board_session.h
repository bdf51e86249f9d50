#pragma once

// One board on one port: the port object, the protocol on it, and everything the program does
// with a board (scan, connect and disconnect, "Close", "Reset", relays, "Speichern", input
// changes, the line check, the lost line, the program's end). No Qt: a session runs on any
// thread that pumps its events (PacedWait's pump of that thread, see logic_queue.h).
//
// Threads. A session belongs to one logic thread, the one it runs on: every member is called
// there, except RequestStop / ClearStopRequest / StopRequested, which any thread may call.
// Its waits process that thread's events, so a notification or a timer may run another
// member nested inside a running one (an input change inside a relay write's drain, a line
// check inside a scan): that is the program's design, and the members are written for it.
//
// Two sessions on two threads share nothing mutable.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "connection/board_event.h"
#include "connection/loader_link.h"
#include "connection/port_ref.h"
#include "connection/result.h"
#include "connection/session_view.h"
#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"

namespace swb808 {

class TLogicQueue;

// What "Scan" tries, in order: every rate on the first port, then the next port. The rule of
// the window's "auto" picks: more than one port counts the present ones for the progress step;
// more than one rate steps the bar and shows "scanning ..." before each rate. A single rate is
// tried as it stands.
struct ScanRequest {
    std::vector<PortRef> ports;
    std::vector<int32_t> rates;

    // "auto" / "auto": COM1..COM16, every board rate.
    static ScanRequest Auto();
    static std::vector<int32_t> AllRates();
};

// The configuration "Speichern" writes, as the controls hold it. Out-of-range values (no rate
// picked: -1; a delay above 65535) raise ERangeError before anything is sent.
struct ConfigValues {
    int baudIndex = 0;   // configuration byte 0, index into board::kBaudRates
    int errorDelay = 2;  // seconds, bytes 1-2
    int retryDelay = 1;  // seconds, bytes 3-4
    bool keepRelays = false;
    bool noRetry = false;
    bool ignoreErrors = false;
};

// A value that does not fit its byte or word ("Fehler bei Bereichsprüfung").
class ERangeError : public std::runtime_error {
  public:
    ERangeError() : std::runtime_error("Fehler bei Bereichsprüfung") {}
};

// Why a port did not open: the serial layer's code (ecBadId: no such device, ecAlreadyOpen:
// held elsewhere, 5 or ecAccessDenied: no permission, others) and the text shown.
struct OpenFailure {
    int32_t code = 0;
    std::string text;
};

class BoardSession {
  public:
    static constexpr int kLineCheckPeriodMs = 500;

    // `view` must outlive the session; a default SessionView shows nothing.
    explicit BoardSession(SessionView& view);
    ~BoardSession();  // the port is closed (output discarded), no reset is sent
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Hosting on a plain thread: `queue` becomes the port's notification target and runs the
    // line check every 500 ms. The window instead attaches its Qt notifier to Port() and
    // calls LineCheck from a QTimer.
    void AttachTo(const std::shared_ptr<TLogicQueue>& queue);

    // --- State (logic thread) ---
    SessionState State() const { return state_; }
    // The board link is held: connected by a scan, or a transfer has its board (a bootloader
    // answered, or the in-application entry). The window's "Connected".
    bool IsConnected() const;
    const int32_t& ConnectedPort() const { return connectedPort_; }  // COM number, 0 for a path
    const int32_t& ConnectedBaud() const { return connectedBaud_; }
    const PortRef& ConnectedPortRef() const { return connectedRef_; }
    const int32_t& OpenedPort() const { return opened_.com; }  // 0 = none (or a path)
    const PortRef& OpenedPortRef() const { return opened_; }
    const int32_t& ScanStep() const { return scanStep_; }
    int ProgressValue() const { return progress_; }
    const std::string& StatusTextNow() const { return status_; }
    BoardRecords Records() const;
    // The last failed open of this session, if any since the last successful one.
    const std::optional<OpenFailure>& LastOpenFailure() const { return lastOpenFailure_; }

    // The window's port and protocol objects, for the names the window gives them
    // (SWBComPort, Protocol); nothing else may drive the port past the session.
    TSerialPort& Port() { return port_; }
    const TSerialPort& Port() const { return port_; }
    TSWB808Protocol& Protocol() { return protocol_; }

    // The board's live events (board_event.h); the typed handle is Board (board.h).
    BoardEvents& Events() { return events_; }

    // --- Stop (any thread) ---
    // Ends a running scan before its next pair and a bootloader search before its next
    // probe. Sticky until cleared, so one that comes just before a scan still stops it.
    void RequestStop() { stop_.store(true); }
    void ClearStopRequest() { stop_.store(false); }
    bool StopRequested() const { return stop_.load(); }

    // --- Finding the board ---
    // Targets the port object at `port` and `baud` and opens it (a new port is opened afresh,
    // the same port only changes its rate). False when it cannot be used; a failed open
    // leaves a red line "COMn: Baud=b: <error>" and LastOpenFailure.
    bool OpenSWBPort(const PortRef& port, int32_t baud);
    // Open, wake byte, query: `baud` when the board answered, else 0.
    int32_t ScanConnect(const PortRef& port, int32_t baud);
    // The request's rates on one port: the rate found or 0.
    int32_t ScanBaud(const PortRef& port, const std::vector<int32_t>& rates, bool stepRates);
    // The scan: on success connect() and the input-change trigger; the rate found or 0.
    int32_t Scan(const ScanRequest& request);

    // --- Connected state ---
    void connect();     // enter it from the records the query read
    void disconnect();  // leave it and close the port (no reset is sent)
    // "Close": reset frame, "auto" rate, disconnect, 2000 ms.
    void Close();
    // "Reset": reset frame, "auto" rate, disconnect, 2000 ms, then the scan `rescan` returns
    // (asked after the wait, so a pick made meanwhile counts); none when it is empty.
    void Reset(const std::function<ScanRequest()>& rescan);
    // The program ends: the reset frame when connected; the port stays as it is.
    void FormClose();

    // Relays: toggle relay n (1..8) as a click on its LED does, or write a whole mask.
    void ToggleRelay(int relay);
    void WriteRelays(uint8_t mask);
    // "Speichern": range check, then 0xB4 with the record; DeviceConfig takes bytes 0..5.
    void SaveConfig(const ConfigValues& values);
    // Single reads on the open port at the connected (or attached) rate, as the query makes
    // them; the reply is checked (TSWB808Protocol::ReadRecord) and the record updated from a
    // valid one. nullopt when no valid reply came.
    std::optional<uint8_t> ReadRelays();
    std::optional<uint8_t> ReadInputs();
    std::optional<int32_t> ReadVcc();
    std::optional<std::array<uint8_t, 6>> ReadConfig();
    // The version reply into FirmwareVersion.
    std::optional<std::string> ReadVersion();
    // The input-change trigger on an attached port; a scan has registered it already.
    void ListenForInputChanges();
    // The wake byte the scan greets each pair with, waiting until it has left. False when
    // the line was lost meanwhile.
    bool Greet();
    // Open and greet without a query, for single reads at a known rate; the reads then
    // use `baud`.
    bool Attach(const PortRef& port, int32_t baud);
    // The port is open for single reads (Attach), without a connection.
    bool IsAttached() const { return attachedBaud_ != 0 && port_.Open(); }
    // A vanished device: connected, as the line check does (disconnect, then told); else as
    // DropLostLine. The serial layer's text for it, or empty when the line is fine.
    std::string LoseVanishedLine();
    // The whole query again on the connected port; false when the board did not answer.
    bool Query();

    // Input-change frames, raised by the trigger on the port's head C1 B2 E1.
    void SWBComPortTriggerData(TSerialPort& CP, uint16_t TriggerHandle);
    // How the session runs the handlers its port raises (the window: its error boxes around
    // them). Plain calls by default.
    using HandlerRunner = std::function<void(const std::function<void()>&)>;
    void SetHandlerRunner(HandlerRunner runner) { runHandler_ = std::move(runner); }
    // Closes the port at once without a reset frame (output discarded) and stops raising
    // its handlers: for the program's end, before whatever they report to goes.
    void ClosePort();
    // Every 500 ms: a vanished device disconnects (and is told); stale noise is dropped.
    void LineCheck();
    // The open port's device vanished: told, port closed, OpenedPort cleared. False when the
    // line is fine or the port closed.
    bool DropLostLine();
    void TellLineLost(const std::string& portName);

    // --- For the firmware transfer (logic thread) ---
    void BeginFlashing();                      // state Flashing (the link as it was)
    void SetLoaderLinked(bool linked);         // the transfer holds a board (bootloader or entry)
    void EndFlashing();                        // back to Idle (Connected if the link is still held)
    void ForgetOpenedPort() { opened_ = {}; }  // the next open opens afresh
    void SetStatus(const std::string& text);
    void SetProgress(int value);
    SessionView& View() { return view_; }
    // An event of `kind` carrying the board's key, port and last known values.
    BoardEvent NewEvent(BoardEventKind kind) const;
    void Publish(BoardEventKind kind) { events_.Publish(NewEvent(kind)); }
    // After each block the board's loader confirmed: the view's count and the event.
    void TellBlocksDone(int done, int count);

  private:
    friend class LoaderLink;
    void SetState(SessionState state);
    void TellInputs(uint8_t mask);  // the LEDs and the event
    // A single read (TSWB808Protocol::ReadRecord) at the connected or attached rate; `take`
    // gets the reply's payload. Then the input-change frames that came behind the reply.
    bool ReadReply(uint8_t command, int32_t replyLength, int payloadLength,
                   const std::function<void(const TSWB808Protocol::TBuffer&)>& take);
    void CloseQuietly();
    void ResetAndLeave();  // "Close" and "Reset" up to their wait
    void DropStaleInput();
    std::string PairLabel(const PortRef& port, int32_t baud) const;

    SessionView& view_;
    TSerialPort port_;
    TSWB808Protocol protocol_{port_};
    SessionState state_ = SessionState::Idle;
    bool loaderLinked_ = false;
    int32_t connectedPort_ = 0;
    int32_t connectedBaud_ = 0;
    PortRef connectedRef_;
    PortRef opened_;
    int32_t scanStep_ = 0;
    int progress_ = SessionView::kProgressMax;
    std::string status_ = "disconnected";
    std::optional<OpenFailure> lastOpenFailure_;
    std::atomic<bool> stop_{false};
    int inputChangeDepth_ = 0;          // SWBComPortTriggerData is reading frames
    int replyAwaited_ = 0;              // a single read is waiting for its reply
    bool inputChangeDeferred_ = false;  // a change frame was signalled meanwhile
    uint16_t staleWaiting_ = 0;         // input waiting at the last line check
    std::shared_ptr<TLogicQueue> queue_;
    uint32_t lineCheckTimer_ = 0;
    BoardEvents events_;
    HandlerRunner runHandler_;
    int32_t attachedBaud_ = 0;   // Attach without a scan
    bool inputTrigger_ = false;  // the input-change trigger is registered on the port
    PortRef lastRef_;            // the last board's port, for events after it is let go
    int32_t lastBaud_ = 0;
};

}  // namespace swb808
