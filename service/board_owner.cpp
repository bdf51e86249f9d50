#include "service/board_owner.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <random>

#include "connection/board_session.h"
#include "firmware/firmware_transfer.h"
#include "frontend/board_event_json.h"
#include "protocol/board_text.h"
#include "service/event_hub.h"
#include "service/known_boards.h"
#include "service/log.h"
#include "service/metrics.h"

namespace swb808::service {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// 1 s doubling to 30 s, each spread by a fifth either way so that boards that went away
// together do not come back in step.
Clock::duration Backoff(int failures) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const double base = std::min(30.0, double(1 << std::min(failures, 5)));
    const double spread = std::uniform_real_distribution<double>(0.8, 1.2)(random);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(30.0, base * spread)));
}

// "SWB808 Relaiskarte ... S/N 000815" -> "swb808-relaiskarte-...-s-n-000815".
std::string IdFromText(const std::string& text) {
    std::string id;
    for (unsigned char c : text) {
        if (std::isalnum(c))
            id += char(std::tolower(c));
        else if (!id.empty() && id.back() != '-')
            id += '-';
    }
    while (!id.empty() && id.back() == '-') id.pop_back();
    return id.empty() ? "board" : id;
}

std::string FlashFailure(FlashOutcome outcome) {
    switch (outcome) {
        case FlashOutcome::Complete:
            return {};
        case FlashOutcome::NoLoader:
            return std::string(kNoLoaderText);
        case FlashOutcome::NoAnswer:
            return std::string(kNoAnswerText);
        case FlashOutcome::WrongSum:
            return std::string(kWrongSumText);
        case FlashOutcome::SearchStopped:
        case FlashOutcome::Aborted:
            break;
    }
    return "the transfer was stopped";
}

}  // namespace

const char* BoardStateName(BoardState state) {
    switch (state) {
        case BoardState::Searching:
            return "searching";
        case BoardState::Online:
            return "online";
        case BoardState::Offline:
            return "offline";
        case BoardState::Flashing:
            return "flashing";
        case BoardState::OtherBoard:
            return "other_board";
    }
    return "?";
}

struct BoardOwner::Found {
    BoardIdentity identity;
    BoardRecords records;
};

BoardOwner::BoardOwner(BoardConfig config, KnownBoards& known, EventHub& hub, Metrics& metrics,
                       std::size_t queueLimit, ClaimId claimId)
    : config_(std::move(config)),
      claimId_(std::move(claimId)),
      known_(known),
      hub_(hub),
      metrics_(metrics) {
    view_.port = config_.port;
    view_.name = config_.name;
    view_.problem = "not found yet";
    const auto remembered = known_.Find(config_.port.Name());
    if (remembered) {
        if (!remembered->key.empty()) expectedKey_ = remembered->key;
        knownBaud_ = remembered->baud;
    }
    view_.id = !config_.name.empty()                   ? config_.name
               : remembered && !remembered->id.empty() ? remembered->id
                                                       : IdFromText(config_.port.Name());
    worker_ = std::make_unique<BoardWorker>(queueLimit);
}

BoardOwner::~BoardOwner() {
    Stop();
}

void BoardOwner::Start() {
    subscription_ = worker_->Subscribe([this](const BoardEvent& e) { OnEvent(e); });
    supervisor_ = std::thread([this] { Supervise(); });
}

void BoardOwner::Stop() {
    if (stopping_.exchange(true)) return;
    {
        const std::lock_guard lock(wakeMutex_);
        wake_.notify_all();
    }
    std::map<uint64_t, int> pulses;
    {
        const std::lock_guard lock(mutex_);
        pulses.swap(pulses_);
    }
    for (const auto& [pulse, relay] : pulses) {
        const Result<void> off =
            worker_->Post([n = relay](Board& b) { return b.SetRelay(n, false); }).get();
        LogInfo(config_.port.Name() + ": relay " + std::to_string(relay) +
                " of a pulse switched off at the stop" +
                (off ? std::string() : ": " + off.error().message));
    }
    worker_->RequestStop();
    if (supervisor_.joinable()) supervisor_.join();
    subscription_.Reset();
    worker_.reset();  // the running command finishes; the queued ones get Shutdown
}

std::string BoardOwner::Id() const {
    const std::lock_guard lock(mutex_);
    return view_.id;
}

BoardView BoardOwner::View() const {
    const std::lock_guard lock(mutex_);
    BoardView v = view_;
    v.state = state_.load();
    return v;
}

int BoardOwner::RetryAfterSeconds() const {
    std::lock_guard lock(const_cast<std::mutex&>(wakeMutex_));
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(nextAttempt_ - Clock::now());
    return std::max<int>(1, int(left.count()) + 1);
}

std::vector<int32_t> BoardOwner::Rates() const {
    std::vector<int32_t> rates;
    for (int32_t first : {knownBaud_, config_.baud})
        if (first > 0 && std::find(rates.begin(), rates.end(), first) == rates.end())
            rates.push_back(first);
    for (int32_t r : ScanRequest::AllRates())
        if (std::find(rates.begin(), rates.end(), r) == rates.end()) rates.push_back(r);
    return rates;
}

void BoardOwner::Supervise() {
    std::unique_lock lock(wakeMutex_);
    while (!stopping_) {
        const BoardState s = state_.load();
        const bool wanted =
            s == BoardState::Searching || s == BoardState::Offline || s == BoardState::OtherBoard;
        if (!wanted) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < nextAttempt_) {
            wake_.wait_until(lock, nextAttempt_);
            continue;
        }
        lock.unlock();
        const bool found = TryFind();
        lock.lock();
        if (found) {
            failures_ = 0;
        } else {
            nextAttempt_ = Clock::now() + Backoff(failures_);
            ++failures_;
        }
    }
}

Result<BoardOwner::Found> BoardOwner::Find(Board& board) {
    OpenRequest request;
    request.ports = {config_.port};
    {
        const std::lock_guard lock(mutex_);
        request.rates = Rates();
        request.expectedKey = expectedKey_;
    }
    auto identity = board.Open(request);
    if (!identity) return Failure{identity.error()};
    auto records = board.ReadState();
    if (!records) {
        board.Release();
        return Failure{records.error()};
    }
    return Found{*identity, *records};
}

bool BoardOwner::TryFind() {
    auto answer = worker_->Post([this](Board& board) { return Find(board); }).get();
    if (stopping_) return false;
    if (answer) {
        Adopt(*answer);
        return true;
    }
    const BoardError& e = answer.error();
    if (e.code == BoardErrc::OtherBoard) {
        if (state_.load() != BoardState::OtherBoard)
            LogWarning(config_.port.Name() + ": " + e.message + "; it is left alone");
        SetState(BoardState::OtherBoard, e.message);
        return false;
    }
    {
        const std::lock_guard lock(wakeMutex_);
        if (!outageLogged_)
            LogWarning(config_.port.Name() + ": no board: " + e.message + "; retrying");
        outageLogged_ = true;
    }
    SetState(state_.load() == BoardState::Searching ? BoardState::Searching : BoardState::Offline,
             e.message);
    return false;
}

void BoardOwner::Adopt(const Found& found) {
    bool named;
    {
        const std::lock_guard lock(mutex_);
        named = !config_.name.empty() || expectedKey_;
    }
    // Two boards with the same identity text still get an id each.
    const std::string derived =
        named ? std::string()
              : claimId_(IdFromText(found.identity.key),
                         IdFromText(found.identity.key) + "-" + IdFromText(config_.port.Name()),
                         this);
    std::string id;
    {
        const std::lock_guard lock(mutex_);
        if (!derived.empty()) view_.id = derived;
        expectedKey_ = found.identity.key;
        knownBaud_ = found.identity.baud;
        view_.identity = found.identity;
        view_.records = found.records;
        view_.relaysAt = view_.inputsAt = view_.supplyAt = std::chrono::system_clock::now();
        view_.problem.clear();
        id = view_.id;
        if (job_) job_->Running(AnsiToUtf8(found.records.firmwareVersion));
    }
    known_.Remember(config_.port.Name(), {id, found.identity.key, found.identity.baud});
    LogInfo(config_.port.Name() + ": board " + id + " online at " +
            std::to_string(found.identity.baud) + " Bd, firmware " +
            AnsiToUtf8(found.records.firmwareVersion) + " (state read, nothing written)");
    {
        const std::lock_guard lock(wakeMutex_);
        outageLogged_ = false;
    }
    SetState(BoardState::Online, {});
}

void BoardOwner::Lost(const std::string& why) {
    {
        const std::lock_guard lock(wakeMutex_);
        if (!outageLogged_)
            LogWarning(config_.port.Name() + ": board offline: " + why + "; retrying");
        outageLogged_ = true;
        failures_ = 0;
        nextAttempt_ = Clock::now() + Backoff(0);
        wake_.notify_all();
    }
    SetState(BoardState::Offline, why);
}

void BoardOwner::SetState(BoardState state, const std::string& problem) {
    const BoardState before = state_.exchange(state);
    std::string id;
    {
        const std::lock_guard lock(mutex_);
        view_.problem = problem;
        id = view_.id;
    }
    {
        const std::lock_guard lock(wakeMutex_);
        wake_.notify_all();
    }
    if (before == state) return;
    QJsonObject data;
    data["state"] = BoardStateName(state);
    data["port"] = QString::fromStdString(config_.port.Name());
    if (!problem.empty()) data["message"] = QString::fromStdString(problem);
    hub_.Publish("state", id, data);
}

void BoardOwner::OnEvent(const BoardEvent& e) {
    const auto now = std::chrono::system_clock::now();
    std::string id;
    {
        const std::lock_guard lock(mutex_);
        id = view_.id;
        if (view_.records) {
            switch (e.kind) {
                case BoardEventKind::InputChange:
                    view_.records->inputs = e.inputs;
                    view_.inputsAt = now;
                    break;
                case BoardEventKind::RelayChange:
                    view_.records->relays = e.relays;
                    view_.relaysAt = now;
                    break;
                default:
                    break;
            }
        }
        if (job_ && e.kind == BoardEventKind::FlashProgress)
            job_->Progress(e.blocksDone, e.blockCount);
    }
    if (e.kind == BoardEventKind::InputChange) metrics_.InputEvent();
    QJsonObject data = EventJson(e);
    data.remove("seq");
    data.remove("time");
    data["key"] = data.take("board");
    hub_.Publish(EventKindName(e.kind), id, data);
    if (e.kind == BoardEventKind::Lost && state_.load() == BoardState::Online) Lost(e.message);
}

void BoardOwner::AfterCommand(Board& board) {
    if (state_.load() == BoardState::Online && !board.IsConnected())
        Lost("the board did not answer again after the command");
}

void BoardOwner::Submit(const std::string& what, Command command, Reply reply) {
    const auto start = Clock::now();
    auto done = [this, what, start, reply = std::move(reply)](Result<QJsonObject> r) {
        metrics_.CommandDone(
            r ? std::string("ok") : std::string(ErrcName(r.error().code)),
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
        reply(std::move(r));
    };
    const std::string port = config_.port.Name();
    if (stopping_) return done(Fail(BoardErrc::Shutdown, "the service is stopping"));
    switch (state_.load()) {
        case BoardState::Online:
            break;
        case BoardState::Flashing:
            return done(Fail(BoardErrc::Busy, port + ": the board is being flashed"));
        case BoardState::OtherBoard:
            return done(Fail(BoardErrc::OtherBoard, port + ": another board answers on this port"));
        case BoardState::Searching:
        case BoardState::Offline: {
            const std::lock_guard lock(mutex_);
            return done(Fail(BoardErrc::NotConnected,
                             port + ": the board is offline (" + view_.problem + ")"));
        }
    }
    worker_->Post(
        [this, command = std::move(command)](Board& board) {
            Result<QJsonObject> r = command(board);
            AfterCommand(board);
            return r;
        },
        std::function<void(Result<QJsonObject>)>(std::move(done)));
}

Result<std::shared_ptr<FlashJob>> BoardOwner::Flash(const TFirmwareImage& image, bool bootloader,
                                                    const std::string& jobId) {
    const std::string port = config_.port.Name();
    if (stopping_) return Fail(BoardErrc::Shutdown, "the service is stopping");
    BoardState s = state_.load();
    if (s == BoardState::Flashing)
        return Fail(BoardErrc::Busy, port + ": the board is being flashed");
    if (!bootloader && s != BoardState::Online)
        return Fail(BoardErrc::NotConnected,
                    port +
                        ": the board is offline; a board in its bootloader "
                        "is flashed with ?bootloader=1");
    if (!state_.compare_exchange_strong(s, BoardState::Flashing))
        return Fail(BoardErrc::Busy, port + ": the board changed its state; try again");
    std::shared_ptr<FlashJob> job;
    std::string id;
    {
        const std::lock_guard lock(mutex_);
        id = view_.id;
        const std::string old =
            view_.records ? AnsiToUtf8(view_.records->firmwareVersion) : std::string();
        job = std::make_shared<FlashJob>(jobId, id, old, AnsiToUtf8(FindImageVersion(image)),
                                         bootloader);
        job_ = job;
    }
    hub_.Publish("state", id,
                 QJsonObject{{"state", "flashing"},
                             {"port", QString::fromStdString(port)},
                             {"job", QString::fromStdString(jobId)}});
    auto answer = worker_->Post([this, image, bootloader, job](Board& board) -> Result<int> {
        FirmwareTransfer transfer(board.Session());
        if (bootloader) board.Release();
        const FlashResult r =
            bootloader ? transfer.Run(image, {config_.port}) : transfer.Run(image);
        job->Progress(r.blocksDone, int(board::kBlockCount));
        const std::string failure = FlashFailure(r.outcome);
        job->Finish(failure);
        hub_.Publish("job", Id(), job->Json());
        LogInfo(config_.port.Name() + ": flash " +
                (failure.empty() ? "complete" : "failed: " + failure));
        // The board restarts at its stored rate (or stays in its bootloader): find it again.
        {
            const std::lock_guard lock(wakeMutex_);
            failures_ = 0;
            nextAttempt_ = Clock::now() + 1s;
        }
        SetState(BoardState::Offline, "restarting after the flash");
        return 0;
    });
    if (answer.wait_for(0s) == std::future_status::ready) {
        auto r = answer.get();
        if (!r) {
            SetState(s, {});
            return Failure{r.error()};
        }
    }
    return job;
}

uint64_t BoardOwner::PulseBegins(int relay) {
    const std::lock_guard lock(mutex_);
    pulses_[nextPulse_] = relay;
    return nextPulse_++;
}

bool BoardOwner::PulseEnds(uint64_t pulse) {
    const std::lock_guard lock(mutex_);
    return pulses_.erase(pulse) == 1;
}

void BoardOwner::NoteRecords(const BoardRecords& records) {
    const std::lock_guard lock(mutex_);
    view_.records = records;
    view_.relaysAt = view_.inputsAt = view_.supplyAt = std::chrono::system_clock::now();
}

void BoardOwner::NoteRelays(uint8_t mask) {
    const std::lock_guard lock(mutex_);
    if (!view_.records) return;
    view_.records->relays = mask;
    view_.relaysAt = std::chrono::system_clock::now();
}

void BoardOwner::NoteInputs(uint8_t mask) {
    const std::lock_guard lock(mutex_);
    if (!view_.records) return;
    view_.records->inputs = mask;
    view_.inputsAt = std::chrono::system_clock::now();
}

void BoardOwner::NoteSupply(int32_t raw) {
    const std::lock_guard lock(mutex_);
    if (!view_.records) return;
    view_.records->vccRaw = raw;
    view_.supplyAt = std::chrono::system_clock::now();
}

void BoardOwner::NoteConfig(const ConfigRecord& config) {
    const std::lock_guard lock(mutex_);
    if (view_.records) view_.records->config = config;
}

void BoardOwner::NoteFound(const BoardIdentity& identity) {
    std::string id;
    {
        const std::lock_guard lock(mutex_);
        view_.identity = identity;
        knownBaud_ = identity.baud;
        id = view_.id;
    }
    known_.Remember(config_.port.Name(), {id, identity.key, identity.baud});
}

}  // namespace swb808::service
