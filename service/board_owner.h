#pragma once

// One configured board: its owner thread (a BoardWorker, which runs every command in order,
// one on the wire at a time), what the service last heard from it, and a supervisor that
// finds it, and finds it again after its line was lost, with backoff (1 s doubling to 30 s,
// with jitter). Finding never writes to the board: the service reads its state and adopts
// it. A board that answers with another identity than the one known for the port is not
// taken: it is reported and left alone.
//
// Threads: every member may be called from any thread. Commands and their replies run on
// the board's thread; the supervisor has a thread of its own.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <QJsonObject>

#include "connection/board.h"
#include "connection/board_worker.h"
#include "firmware/firmware_image.h"
#include "service/config.h"
#include "service/flash_job.h"

namespace swb808::service {

class EventHub;
class KnownBoards;
class Metrics;

enum class BoardState { Searching, Online, Offline, Flashing, OtherBoard };
const char* BoardStateName(BoardState state);  // "searching", "online", ...

// What the service knows of a board, copied out.
struct BoardView {
    std::string id;
    std::string name;
    PortRef port;
    BoardState state = BoardState::Searching;
    std::string problem;  // why it is not online
    std::optional<BoardIdentity> identity;
    std::optional<BoardRecords> records;  // the last whole read, kept up to date by events
    using Time = std::chrono::system_clock::time_point;
    Time relaysAt{}, inputsAt{}, supplyAt{};
};

class BoardOwner {
  public:
    using Command = std::function<Result<QJsonObject>(Board&)>;
    using Reply = std::function<void(Result<QJsonObject>)>;

    // Gives the board `wanted` as its id, or `alternative` when another board has it already.
    using ClaimId = std::function<std::string(
        const std::string& wanted, const std::string& alternative, const BoardOwner* asking)>;
    BoardOwner(BoardConfig config, KnownBoards& known, EventHub& hub, Metrics& metrics,
               std::size_t queueLimit, ClaimId claimId);
    ~BoardOwner();  // Stop()
    BoardOwner(const BoardOwner&) = delete;
    BoardOwner& operator=(const BoardOwner&) = delete;

    void Start();
    // The supervisor ends, a search stops, the command on the wire (a flash's blocks too)
    // finishes; queued commands are answered with Shutdown.
    void Stop();

    std::string Id() const;
    BoardView View() const;
    BoardState State() const { return state_.load(); }
    // Seconds until the next attempt to find the board (at least 1).
    int RetryAfterSeconds() const;

    // Runs `command` on the board's thread after those queued before it; `reply` runs there
    // with its result. A board that is offline, flashing or another board answers at once
    // (NotConnected, Busy, OtherBoard), a full queue with Overloaded. `what` names the
    // command in the metrics.
    void Submit(const std::string& what, Command command, Reply reply);

    // Starts a transfer of `image` (checksum in place): through the running firmware, or
    // with `bootloader` through the bootloader on this board's port. The job is returned at
    // once; the board is found again when the transfer has ended.
    Result<std::shared_ptr<FlashJob>> Flash(const TFirmwareImage& image, bool bootloader,
                                            const std::string& jobId);

    // A pulse switched `relay` on: until PulseEnds takes it back, a Stop switches it off
    // before the board is let go, so no relay stays on because the service ended.
    uint64_t PulseBegins(int relay);
    // False when Stop has already switched it off.
    bool PulseEnds(uint64_t pulse);

    // What a command read, for the next reads of the cache (board thread or any).
    void NoteRecords(const BoardRecords& records);
    void NoteRelays(uint8_t mask);
    void NoteInputs(uint8_t mask);
    void NoteSupply(int32_t raw);
    void NoteConfig(const ConfigRecord& config);
    // The board found again after a reset, perhaps at another rate.
    void NoteFound(const BoardIdentity& identity);

  private:
    struct Found;
    void Supervise();
    bool TryFind();
    Result<Found> Find(Board& board);  // board thread
    void Adopt(const Found& found);
    void Lost(const std::string& why);
    void SetState(BoardState state, const std::string& problem);
    void OnEvent(const BoardEvent& event);  // board thread
    std::vector<int32_t> Rates() const;
    void AfterCommand(Board& board);  // board thread

    const BoardConfig config_;
    const ClaimId claimId_;
    KnownBoards& known_;
    EventHub& hub_;
    Metrics& metrics_;
    std::atomic<BoardState> state_{BoardState::Searching};
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;  // guards what follows up to the supervisor's part
    BoardView view_;
    std::optional<std::string> expectedKey_;
    int knownBaud_ = 0;
    std::shared_ptr<FlashJob> job_;
    std::map<uint64_t, int> pulses_;  // pulse -> relay, switched on and not yet off
    uint64_t nextPulse_ = 1;

    std::mutex wakeMutex_;  // the supervisor's schedule
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point nextAttempt_{};
    int failures_ = 0;
    bool outageLogged_ = false;

    std::unique_ptr<BoardWorker> worker_;
    BoardEvents::Subscription subscription_;
    std::thread supervisor_;
};

}  // namespace swb808::service
