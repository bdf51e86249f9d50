#pragma once

// A simulated SWB808 on the master side of a pseudo-terminal: firmware (framed commands),
// configuration, relays, inputs, supply voltage, reset with restart at the configured rate, and
// the bootloader with its block transfer. The program opens the slave side as its COM port.
//
// Threads: a receive thread (reads, decodes, answers, runs the restart and transfer timers) and
// a transmit thread (paces the bytes at the line rate). Every public member may be called from
// any thread.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/frame_codec.h"

namespace swb808::sim {

class PseudoTerminal;
class LineTransmitter;

// The board's rates, indexed by configuration byte 0.
inline constexpr std::array<unsigned, 14> kBoardRates = {
    300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 76800, 115200, 230400};
inline constexpr unsigned kBootloaderRate = 19200;
inline constexpr size_t kImageSize = 6144;
inline constexpr size_t kBlockSize = 64;
inline constexpr size_t kBlockCount = kImageSize / kBlockSize;

// Index of `rate` in kBoardRates, or -1.
int RateIndex(unsigned rate);

enum class FaultKind {
    BadCheck,           // arg: command code whose reply gets a wrong check byte, 0 = every reply
    Truncated,          // arg: command code whose reply loses its last two bytes, 0 = every reply
    VersionCode6,       // the version reply carries reply code 6
    VersionShort,       // the version reply carries 4 payload bytes (a 13-byte frame)
    IdentityBadCheck,   // arg: which of the four identity replies (1..4) gets a wrong check byte
    IdentityTruncated,  // arg: which identity reply (1..4) loses its last two bytes
    WrongEcho,          // arg: block 0..95, -1 = every block: echo the sum plus one
    SwappedEcho,        // arg: block 0..95, -1 = every block: echo high byte first
    NoEcho,             // arg: block 0..95, -1 = every block: no echo
    StrayByte,          // arg: byte value; sent once, before the next answer
    Garbage,            // arg: byte count; random bytes sent once, before the next answer
};

// Default argument of each fault (used when none is given): BadCheck/Truncated 0 (every reply),
// Identity* 3, *Echo 0 (first block), StrayByte 0x3C, Garbage 32.
int DefaultFaultArg(FaultKind kind);
// Names used on the command line and on standard input ("bad-check", "identity-truncated", ...).
const char* FaultName(FaultKind kind);
bool FaultFromName(const std::string& name, FaultKind* kind);
std::vector<FaultKind> AllFaults();

struct BoardOptions {
    std::string link;         // symbolic link to the line's device; empty: use SlavePath()
    unsigned baud = 9600;     // the firmware's rate; also becomes configuration byte 0
    bool bootloader = false;  // start in the bootloader (19200 Bd), as a board with broken flash
    bool pacing = true;       // deliver bytes at wire speed
    bool trace = false;  // every byte to `traceSink` (default: standard error), one call at a time
    std::string version = "1.07a";  // exactly 5 characters
    std::string identity = "SWB808 Relaiskarte 8 Relais 8 Optokoppler S/N 000815  HW Rev 1.2";
    uint8_t relays = 0;
    uint8_t inputs = 0;
    uint16_t vcc = 800;  // raw reading: 800 is 4.853 V
    // Bytes 1..5: error report delay 2 s, retry delay 1 s, no flags. Byte 0 comes from `baud`.
    std::array<uint8_t, 6> config = {5, 2, 0, 1, 0, 0};
    std::chrono::milliseconds restartDelay{400};  // deaf pause after reset or flash
    // A transfer that stalls this long mid-way is given up (the flash is then broken).
    std::chrono::milliseconds transferTimeout{5000};
    // How long the board works on a command before it answers, counted from the command's
    // last byte (also for probe answers and block echoes). A program that cuts its wait short
    // misses the answer.
    std::chrono::milliseconds replyDelay{0};
    // The payload byte of the answer to 0xB8; empty: echo the byte that came with it.
    std::optional<uint8_t> b8Reply;
    uint32_t seed = 808;  // for garbage bytes
    std::function<void(const std::string&)> traceSink;
};

enum class BoardMode { Firmware, Restarting, Update, Bootloader };
const char* ModeName(BoardMode mode);

struct WireEvent {
    // Bytes on the line, or the program opening or closing its side (no bytes then).
    enum class Kind { Bytes, Opened, Closed };
    std::chrono::steady_clock::time_point time;
    bool sent = false;        // board to program
    unsigned rate = 0;        // the board's rate at the time
    bool understood = false;  // received: taken at the board's own rate; sent: not garbled
    std::vector<uint8_t> bytes;
    Kind kind = Kind::Bytes;
};

// A command frame the firmware took, with the time its last byte arrived.
struct FrameEvent {
    std::chrono::steady_clock::time_point time;
    uint8_t command = 0;
    std::vector<uint8_t> payload;
};

class BoardSimulator {
  public:
    explicit BoardSimulator(BoardOptions options = {});
    ~BoardSimulator();  // stops
    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    // Creates the pseudo-terminal (and the link) and starts listening. Throws
    // std::invalid_argument for bad options and std::system_error when the line cannot be made.
    void Start();
    // Stops both threads (within about 100 ms), closes the line and removes the link.
    void Stop();
    bool Running() const;

    std::string SlavePath() const;
    std::string LinkPath() const { return options_.link; }

    // State.
    BoardMode Mode() const;
    unsigned Rate() const;  // the rate the board listens and sends at now
    uint8_t Relays() const;
    uint8_t Inputs() const;
    uint16_t Vcc() const;
    std::array<uint8_t, 6> Config() const;
    std::string Version() const;
    std::string Identity() const;
    std::vector<uint8_t> Image() const;  // 6144 bytes, zero where nothing was received yet
    size_t BlocksReceived() const;       // of the current or last transfer
    bool ImageValid() const;             // last transfer complete with a right image checksum
    int ResetCount() const;              // reset commands taken
    int FlashCount() const;              // complete transfers with a right image checksum

    // Changes. SetInputs sends the input-change frame when the value changes and the firmware
    // runs; SetRelays stands for a relay write by someone else.
    void SetInputs(uint8_t inputs);
    // The inputs change with the next command that gets a reply, as when a change crosses a
    // read: their change frame goes out as the command arrives (ahead of the reply, right
    // ahead of it without a reply delay) or right behind the reply.
    enum class ChangeAt { BeforeReply, AfterReply };
    void SetInputsAtNextReply(uint8_t inputs, ChangeAt at);
    void SetRelays(uint8_t relays);
    void SetVcc(uint16_t raw);
    void SetVersion(const std::string& five);
    void SetSilent(bool on);
    bool Silent() const;
    void SetPacing(bool on);
    void SetReplyDelay(std::chrono::milliseconds delay);
    std::chrono::milliseconds ReplyDelay() const;
    void SetB8Reply(std::optional<uint8_t> byte);
    std::optional<uint8_t> B8Reply() const;
    void SetFault(FaultKind kind);
    void SetFault(FaultKind kind, int arg);
    void ClearFault(FaultKind kind);
    void ClearFaults();
    std::map<FaultKind, int> Faults() const;
    void SendGarbage(size_t count);  // a burst of random bytes, now
    void EnterBootloader();          // as after power-on with the boot jumper set

    // Record of the line.
    std::vector<uint8_t> ReceivedBytes() const;    // everything the program sent
    std::vector<uint8_t> UnderstoodBytes() const;  // only what arrived at the board's rate
    std::vector<uint8_t> SentBytes() const;        // as it went onto the line
    // Bytes in both directions and the program's opens and closes, in order of time.
    std::vector<WireEvent> WireLog() const;
    std::vector<FrameEvent> FramesReceived() const;  // by the firmware, in order
    void ClearRecord();
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForSent(size_t count, std::chrono::milliseconds timeout) const;
    // True once the board is in `mode` (for instance back in its firmware after a restart).
    bool WaitForMode(BoardMode mode, std::chrono::milliseconds timeout) const;
    // True once nothing is left to send.
    bool WaitSendIdle(std::chrono::milliseconds timeout) const;

  private:
    enum class LoaderState { AwaitProbe, Armed, Receiving };
    using Clock = std::chrono::steady_clock;

    void Run();
    void OnBytes(const std::vector<uint8_t>& bytes, unsigned theirRate);
    void OnTimers(Clock::time_point now);
    Clock::time_point NextDeadline() const;
    void HandleFrame(const Frame& frame);
    void HandleCommand(const Frame& frame);
    void HandleLoaderByte(uint8_t byte, bool lastInChunk, Clock::time_point now);
    void AnswerProbe();
    void TakeBlock();
    void FinishTransfer();
    void BeginRestart();
    void EnterLoaderLocked(unsigned rate, bool probe);
    void Reply(uint8_t code, const std::vector<uint8_t>& payload, int identityNo = 0);
    void Answer(std::vector<uint8_t> bytes);  // after the reply delay
    void SendDueAnswers(Clock::time_point now);
    void Emit(std::vector<uint8_t> bytes);
    void RecordPeerChanges();
    bool FaultActive(FaultKind kind, int* arg) const;
    bool BlockFault(FaultKind kind, size_t block) const;
    void Record(WireEvent event, const char* note);
    void CountReceived(size_t count);
    void Trace(const WireEvent& event, const char* note);

    BoardOptions options_;
    std::unique_ptr<PseudoTerminal> line_;
    std::unique_ptr<LineTransmitter> tx_;
    std::thread rx_;
    Clock::time_point started_;

    mutable std::mutex mu_;  // board state
    bool running_ = false;
    bool stop_ = false;
    BoardMode mode_ = BoardMode::Firmware;
    unsigned rate_ = 9600;
    uint8_t relays_ = 0;
    uint8_t inputs_ = 0;
    uint16_t vcc_ = 0;
    std::array<uint8_t, 6> config_{};
    std::string version_;
    std::string identity_;
    bool silent_ = false;
    std::map<FaultKind, int> faults_;
    std::mt19937 random_;
    int resetCount_ = 0;
    int flashCount_ = 0;
    FrameParser parser_;
    Clock::time_point restartAt_{};
    Clock::time_point frameTime_{};  // arrival of the bytes being handled
    std::chrono::milliseconds replyDelay_{0};
    std::optional<uint8_t> b8Reply_;
    struct CrossingChange {
        uint8_t inputs = 0;
        ChangeAt at = ChangeAt::BeforeReply;
    };
    std::optional<CrossingChange> crossing_;
    struct DueAnswer {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    std::deque<DueAnswer> answers_;
    // Loader (bootloader or in-application update).
    LoaderState loader_ = LoaderState::AwaitProbe;
    bool probeHandshake_ = true;  // false on the in-application path
    bool heldProbe_ = false;      // a lone 0x78 that may be a probe or the first data byte
    Clock::time_point heldUntil_{};
    Clock::time_point lastLoaderByte_{};
    bool dataStarted_ = false;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> image_;
    size_t blocks_ = 0;
    bool imageValid_ = false;

    mutable std::mutex recMu_;  // record only; taken last
    mutable std::condition_variable recCv_;
    std::vector<WireEvent> log_;
    std::vector<FrameEvent> frames_;
    size_t receivedCount_ = 0;
    size_t sentCount_ = 0;
};

}  // namespace swb808::sim
