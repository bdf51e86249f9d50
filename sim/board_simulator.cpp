#include "sim/board_simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "sim/line_transmitter.h"
#include "sim/pseudo_terminal.h"

namespace swb808::sim {

namespace {

constexpr uint8_t kProbe = 0x78;
constexpr char kVersionMarker[] = "WXYZVERSION";
constexpr size_t kMarkerLength = sizeof kVersionMarker - 1;

struct FaultInfo {
    FaultKind kind;
    const char* name;
    int defaultArg;
};
constexpr FaultInfo kFaults[] = {
    {FaultKind::BadCheck, "bad-check", 0},
    {FaultKind::Truncated, "truncated", 0},
    {FaultKind::VersionCode6, "version-code6", 0},
    {FaultKind::VersionShort, "version-short", 0},
    {FaultKind::IdentityBadCheck, "identity-bad-check", 3},
    {FaultKind::IdentityTruncated, "identity-truncated", 3},
    {FaultKind::WrongEcho, "wrong-echo", 0},
    {FaultKind::SwappedEcho, "swapped-echo", 0},
    {FaultKind::NoEcho, "no-echo", 0},
    {FaultKind::StrayByte, "stray-byte", 0x3C},
    {FaultKind::Garbage, "garbage", 32},
};

// The version a flashed image brings: the five bytes before the first marker that has a
// non-zero byte among them; empty when there is none.
std::string ImageVersion(const std::vector<uint8_t>& image) {
    for (size_t m = 5; m + kMarkerLength <= kImageSize - 1; ++m) {
        if (std::memcmp(image.data() + m, kVersionMarker, kMarkerLength) != 0) continue;
        if (std::any_of(image.begin() + static_cast<long>(m - 5),
                        image.begin() + static_cast<long>(m), [](uint8_t b) { return b != 0; }))
            return std::string(image.begin() + static_cast<long>(m - 5),
                               image.begin() + static_cast<long>(m));
    }
    return {};
}

bool ImageChecksumRight(const std::vector<uint8_t>& image) {
    unsigned sum = 0;
    for (size_t i = 0; i < kImageSize - 2; ++i) sum += image[i];
    return (sum & 0xFFFF) ==
           static_cast<unsigned>(image[kImageSize - 2] | (image[kImageSize - 1] << 8));
}

std::string Fixed(const std::string& text, size_t n) {
    std::string s = text.substr(0, n);
    s.resize(n, ' ');
    return s;
}

}  // namespace

int RateIndex(unsigned rate) {
    for (size_t i = 0; i < kBoardRates.size(); ++i)
        if (kBoardRates[i] == rate) return static_cast<int>(i);
    return -1;
}

int DefaultFaultArg(FaultKind kind) {
    for (const auto& f : kFaults)
        if (f.kind == kind) return f.defaultArg;
    return 0;
}

const char* FaultName(FaultKind kind) {
    for (const auto& f : kFaults)
        if (f.kind == kind) return f.name;
    return "?";
}

bool FaultFromName(const std::string& name, FaultKind* kind) {
    for (const auto& f : kFaults)
        if (name == f.name) {
            *kind = f.kind;
            return true;
        }
    return false;
}

std::vector<FaultKind> AllFaults() {
    std::vector<FaultKind> all;
    for (const auto& f : kFaults) all.push_back(f.kind);
    return all;
}

const char* ModeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::Firmware:
            return "firmware";
        case BoardMode::Restarting:
            return "restarting";
        case BoardMode::Update:
            return "update";
        case BoardMode::Bootloader:
            return "bootloader";
    }
    return "?";
}

BoardSimulator::BoardSimulator(BoardOptions options)
    : options_(std::move(options)), random_(options_.seed), image_(kImageSize, 0) {
    relays_ = options_.relays;
    inputs_ = options_.inputs;
    vcc_ = options_.vcc;
    config_ = options_.config;
    version_ = Fixed(options_.version, 5);
    identity_ = Fixed(options_.identity, 64);
    rate_ = options_.baud;
    replyDelay_ = options_.replyDelay;
    b8Reply_ = options_.b8Reply;
}

BoardSimulator::~BoardSimulator() {
    Stop();
}

void BoardSimulator::Start() {
    std::lock_guard lock(mu_);
    if (running_) return;
    const int index = RateIndex(options_.baud);
    if (index < 0)
        throw std::invalid_argument("unsupported baud rate " + std::to_string(options_.baud));
    if (options_.version.size() != 5)
        throw std::invalid_argument("the version must have 5 characters");
    if (options_.identity.size() > 64)
        throw std::invalid_argument("the identity has at most 64 characters");
    config_[0] = static_cast<uint8_t>(index);

    line_ = std::make_unique<PseudoTerminal>();
    if (!options_.link.empty()) line_->LinkAs(options_.link);
    tx_ = std::make_unique<LineTransmitter>(
        *line_,
        [this](const std::vector<uint8_t>& wire, unsigned rate, LineTransmitter::Delivery d) {
            using D = LineTransmitter::Delivery;
            Record(WireEvent{Clock::now(), true, rate, d == D::Clean, wire},
                   d == D::Lost ? "port closed" : (d == D::Garbled ? "garbled" : ""));
        });
    tx_->SetPacing(options_.pacing);
    started_ = Clock::now();
    stop_ = false;
    parser_.Reset();
    if (options_.bootloader) {
        EnterLoaderLocked(kBootloaderRate, true);
    } else {
        mode_ = BoardMode::Firmware;
        rate_ = options_.baud;
    }
    tx_->Start();
    rx_ = std::thread([this] { Run(); });
    running_ = true;
}

void BoardSimulator::Stop() {
    {
        std::lock_guard lock(mu_);
        if (!running_) return;
        stop_ = true;
    }
    if (rx_.joinable()) rx_.join();
    tx_->Stop();
    line_->Close();
    std::lock_guard lock(mu_);
    running_ = false;
}

bool BoardSimulator::Running() const {
    std::lock_guard lock(mu_);
    return running_;
}

std::string BoardSimulator::SlavePath() const {
    std::lock_guard lock(mu_);
    return line_ ? line_->SlavePath() : std::string();
}

// ---- receive thread ----

void BoardSimulator::Run() {
    std::vector<uint8_t> buf(4096);
    for (;;) {
        int timeoutMs = 10;
        {
            std::lock_guard lock(mu_);
            if (stop_) return;
            auto next = NextDeadline();
            if (next != Clock::time_point{}) {
                auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
                timeoutMs = static_cast<int>(std::clamp<long>(left, 0, 10));
            }
        }
        // The device's open and close events are watched too, so that they are timed as
        // closely as the bytes.
        pollfd fds[2] = {{line_->MasterFd(), POLLIN, 0}, {line_->WatchFd(), POLLIN, 0}};
        int r = ::poll(fds, 2, timeoutMs);
        line_->ReadNotifications();
        RecordPeerChanges();
        const pollfd& p = fds[0];
        if (r > 0 && (p.revents & POLLIN)) {
            ssize_t n = ::read(line_->MasterFd(), buf.data(), buf.size());
            if (n > 0) {
                // The rate is read as the bytes arrive: what was sent at another rate is noise.
                const unsigned theirs = line_->LineRate();
                OnBytes(std::vector<uint8_t>(buf.begin(), buf.begin() + n), theirs);
            }
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            // Cannot happen while the slave is held open; never spin if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(mu_);
        OnTimers(Clock::now());
    }
}

BoardSimulator::Clock::time_point BoardSimulator::NextDeadline() const {
    Clock::time_point next{};
    auto take = [&next](Clock::time_point t) {
        if (next == Clock::time_point{} || t < next) next = t;
    };
    if (mode_ == BoardMode::Restarting) take(restartAt_);
    if (heldProbe_) take(heldUntil_);
    if (!answers_.empty()) take(answers_.front().due);
    return next;
}

void BoardSimulator::RecordPeerChanges() {
    for (const auto& change : line_->TakePeerChanges()) {
        WireEvent event;
        event.time = change.time;
        event.kind = change.opened ? WireEvent::Kind::Opened : WireEvent::Kind::Closed;
        std::lock_guard lock(mu_);
        event.rate = rate_;
        Record(std::move(event), change.opened ? "opened" : "closed");
    }
}

void BoardSimulator::OnBytes(const std::vector<uint8_t>& bytes, unsigned theirRate) {
    std::lock_guard lock(mu_);
    const auto now = Clock::now();
    frameTime_ = now;
    const bool deaf = mode_ == BoardMode::Restarting;
    const bool understood = !deaf && theirRate == rate_;
    Record(WireEvent{now, false, rate_, understood, bytes},
           deaf ? "deaf" : (understood ? "" : "noise"));
    if (!understood) {
        // Noise breaks whatever frame was being received.
        parser_.Reset();
        CountReceived(bytes.size());
        return;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (mode_ == BoardMode::Firmware) {
            if (auto frame = parser_.Feed(bytes[i])) HandleFrame(*frame);
        } else if (mode_ == BoardMode::Update || mode_ == BoardMode::Bootloader) {
            HandleLoaderByte(bytes[i], i + 1 == bytes.size(), now);
        }
        // A reset inside this chunk makes the board deaf to the rest of it.
    }
    CountReceived(bytes.size());
}

// Counted only once the frames in them are handled, so that a test which waits for the
// bytes also finds their frames.
void BoardSimulator::CountReceived(size_t count) {
    {
        std::lock_guard lock(recMu_);
        receivedCount_ += count;
    }
    recCv_.notify_all();
}

void BoardSimulator::OnTimers(Clock::time_point now) {
    SendDueAnswers(now);
    if (mode_ == BoardMode::Restarting && now >= restartAt_) {
        mode_ = BoardMode::Firmware;
        rate_ = kBoardRates[config_[0]];  // checked when written
        relays_ = 0;                      // outputs come up switched off
        parser_.Reset();
        Record(WireEvent{now, false, rate_, true, {}}, "restarted");
        return;
    }
    if (mode_ != BoardMode::Update && mode_ != BoardMode::Bootloader) return;
    if (heldProbe_ && now >= heldUntil_) {
        heldProbe_ = false;
        AnswerProbe();
    }
    if (now - lastLoaderByte_ >= options_.transferTimeout) {
        if (dataStarted_) {
            // A transfer broken off half-way leaves the flash unusable: the bootloader takes over.
            EnterLoaderLocked(kBootloaderRate, true);
        } else if (mode_ == BoardMode::Update) {
            // Update announced but nothing came: the firmware goes on.
            mode_ = BoardMode::Firmware;
            parser_.Reset();
        }
    }
}

void BoardSimulator::HandleFrame(const Frame& f) {
    {
        std::lock_guard lock(recMu_);
        frames_.push_back(FrameEvent{frameTime_, f.command, f.payload});
    }
    // The reads, and the query's greetings.
    const bool replies = f.command == 0xB1 || f.command == 0xB3 || f.command == 0xBC ||
                         (f.command >= 0xB5 && f.command <= 0xB9);
    std::optional<CrossingChange> crossing;
    if (replies) crossing = std::exchange(crossing_, std::nullopt);
    const auto change = [&] {
        if (crossing->inputs == inputs_) return std::vector<uint8_t>{};
        inputs_ = crossing->inputs;
        return EncodeFrame(0xB2, {inputs_});
    };
    // Ahead: sent at once, the reply follows after the board's working time (the reply delay).
    if (crossing && crossing->at == ChangeAt::BeforeReply)
        if (auto frame = change(); !frame.empty()) Emit(std::move(frame));
    HandleCommand(f);
    if (crossing && crossing->at == ChangeAt::AfterReply)
        if (auto frame = change(); !frame.empty()) Answer(std::move(frame));
}

void BoardSimulator::HandleCommand(const Frame& f) {
    const uint8_t first = f.payload.empty() ? 0 : f.payload[0];
    switch (f.command) {
        case 0xB1:
            Reply(0xB1, {inputs_});
            break;
        case 0xB2:
            relays_ = first;
            break;
        case 0xB3:
            Reply(0xB3, {relays_});
            break;
        case 0xB4: {
            // Stored only when complete, with a right checksum and a rate the board has.
            if (f.payload.size() != 7) break;
            unsigned sum = 0;
            for (size_t i = 0; i < 6; ++i) sum += f.payload[i];
            if ((sum & 0xFF) != f.payload[6] || f.payload[0] >= kBoardRates.size()) break;
            std::copy_n(f.payload.begin(), 6, config_.begin());
            break;
        }
        case 0xB5:
            Reply(0xB5, std::vector<uint8_t>(config_.begin(), config_.end()));
            break;
        case 0xB6:
            for (int part = 0; part < 4; ++part) {
                auto from = identity_.begin() + part * 16;
                Reply(0xB6, std::vector<uint8_t>(from, from + 16), part + 1);
            }
            break;
        case 0xB7: {
            std::vector<uint8_t> text(version_.begin(), version_.end());
            uint8_t code = 0xB7;
            if (FaultActive(FaultKind::VersionCode6, nullptr)) code = 0xB6;
            if (FaultActive(FaultKind::VersionShort, nullptr)) text.resize(4);
            Reply(code, text);
            break;
        }
        case 0xB8:
            // The program sweeps this up, but its payload byte stays behind in the program's
            // buffer and goes out with the version request.
            Reply(0xB8, {b8Reply_.value_or(first)});
            break;
        case 0xB9:
            Reply(0xB9, {first});  // swept up unread
            break;
        case 0xBA:
            ++resetCount_;
            answers_.clear();  // what the board was still working on dies with the reset
            BeginRestart();
            break;
        case 0xBB:
            Reply(0xBB, {0x00});
            EnterLoaderLocked(rate_, false);
            break;
        case 0xBC:
            Reply(0xBC, {static_cast<uint8_t>(vcc_ & 0xFF), static_cast<uint8_t>(vcc_ >> 8)});
            break;
        default:
            break;  // 0xB0, 0xBD..0xBF: not commands of this board
    }
}

void BoardSimulator::BeginRestart() {
    mode_ = BoardMode::Restarting;
    restartAt_ = Clock::now() + options_.restartDelay;
    heldProbe_ = false;
    parser_.Reset();
}

void BoardSimulator::EnterLoaderLocked(unsigned rate, bool probe) {
    mode_ = probe ? BoardMode::Bootloader : BoardMode::Update;
    rate_ = rate;
    probeHandshake_ = probe;
    loader_ = probe ? LoaderState::AwaitProbe : LoaderState::Armed;
    heldProbe_ = false;
    dataStarted_ = false;
    block_.clear();
    lastLoaderByte_ = Clock::now();
    parser_.Reset();
}

void BoardSimulator::HandleLoaderByte(uint8_t byte, bool lastInChunk, Clock::time_point now) {
    lastLoaderByte_ = now;
    if (loader_ == LoaderState::AwaitProbe) {
        if (byte == kProbe) AnswerProbe();
        return;
    }
    if (loader_ == LoaderState::Armed && probeHandshake_) {
        if (heldProbe_) {
            // More bytes followed the held 0x78: it was the first data byte.
            heldProbe_ = false;
            loader_ = LoaderState::Receiving;
            block_.push_back(kProbe);
        } else if (byte == kProbe && lastInChunk) {
            // A probe stands alone on the line; block bytes follow each other at once.
            const auto byteTime = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(40.0 / rate_));
            heldProbe_ = true;
            heldUntil_ = now + std::max<Clock::duration>(std::chrono::milliseconds(5), byteTime);
            return;
        }
    }
    if (loader_ == LoaderState::Armed) loader_ = LoaderState::Receiving;
    if (!dataStarted_) {
        dataStarted_ = true;
        std::fill(image_.begin(), image_.end(), 0);
        blocks_ = 0;
        imageValid_ = false;
    }
    block_.push_back(byte);
    while (block_.size() >= kBlockSize + 2) TakeBlock();
}

void BoardSimulator::AnswerProbe() {
    loader_ = LoaderState::Armed;
    Answer({0x00, 0x1E});
}

void BoardSimulator::TakeBlock() {
    // The echo is the sum of the data as received, so that the program sees any damage.
    unsigned sum = 0;
    for (size_t i = 0; i < kBlockSize; ++i) sum += block_[i];
    if (blocks_ < kBlockCount)
        std::copy_n(block_.begin(), kBlockSize,
                    image_.begin() + static_cast<long>(blocks_ * kBlockSize));
    block_.erase(block_.begin(), block_.begin() + kBlockSize + 2);
    const size_t k = blocks_++;
    uint8_t lo = static_cast<uint8_t>(sum & 0xFF), hi = static_cast<uint8_t>(sum >> 8);
    if (BlockFault(FaultKind::WrongEcho, k)) {
        const unsigned wrong = (sum + 1) & 0xFFFF;
        lo = static_cast<uint8_t>(wrong & 0xFF), hi = static_cast<uint8_t>(wrong >> 8);
    }
    if (BlockFault(FaultKind::SwappedEcho, k)) std::swap(lo, hi);
    if (!BlockFault(FaultKind::NoEcho, k)) Answer({lo, hi});
    if (blocks_ == kBlockCount) FinishTransfer();
}

void BoardSimulator::FinishTransfer() {
    imageValid_ = ImageChecksumRight(image_);
    dataStarted_ = false;
    if (!imageValid_) {
        // A bootloader does not start a damaged image.
        EnterLoaderLocked(kBootloaderRate, true);
        return;
    }
    ++flashCount_;
    if (auto v = ImageVersion(image_); !v.empty()) version_ = v;
    BeginRestart();
}

// ---- sending ----

void BoardSimulator::Reply(uint8_t code, const std::vector<uint8_t>& payload, int identityNo) {
    auto frame = EncodeFrame(code, payload);
    int arg = 0;
    bool badCheck = FaultActive(FaultKind::BadCheck, &arg) && (arg == 0 || arg == code);
    bool truncated = FaultActive(FaultKind::Truncated, &arg) && (arg == 0 || arg == code);
    if (identityNo > 0) {
        badCheck =
            badCheck || (FaultActive(FaultKind::IdentityBadCheck, &arg) && arg == identityNo);
        truncated =
            truncated || (FaultActive(FaultKind::IdentityTruncated, &arg) && arg == identityNo);
    }
    if (badCheck) frame[frame.size() - 2] ^= 0x01;
    if (truncated) frame.resize(frame.size() - 2);
    Answer(std::move(frame));
}

void BoardSimulator::Answer(std::vector<uint8_t> bytes) {
    if (replyDelay_.count() <= 0 && answers_.empty()) {
        Emit(std::move(bytes));
        return;
    }
    // Due in the order the commands came, so a later answer never overtakes an earlier one.
    auto due = frameTime_ + replyDelay_;
    if (!answers_.empty()) due = std::max(due, answers_.back().due);
    answers_.push_back(DueAnswer{due, std::move(bytes)});
}

void BoardSimulator::SendDueAnswers(Clock::time_point now) {
    while (!answers_.empty() && answers_.front().due <= now) {
        Emit(std::move(answers_.front().bytes));
        answers_.pop_front();
    }
}

void BoardSimulator::Emit(std::vector<uint8_t> bytes) {
    if (silent_) return;
    std::vector<uint8_t> out;
    if (auto it = faults_.find(FaultKind::StrayByte); it != faults_.end()) {
        out.push_back(static_cast<uint8_t>(it->second));
        faults_.erase(it);
    }
    if (auto it = faults_.find(FaultKind::Garbage); it != faults_.end()) {
        for (int i = 0; i < it->second; ++i) out.push_back(static_cast<uint8_t>(random_() & 0xFF));
        faults_.erase(it);
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    tx_->Send(std::move(out), rate_);
}

bool BoardSimulator::FaultActive(FaultKind kind, int* arg) const {
    auto it = faults_.find(kind);
    if (it == faults_.end()) return false;
    if (arg) *arg = it->second;
    return true;
}

bool BoardSimulator::BlockFault(FaultKind kind, size_t block) const {
    int arg = 0;
    return FaultActive(kind, &arg) && (arg < 0 || static_cast<size_t>(arg) == block);
}

// ---- record ----

// A bytes event without bytes is only traced (a restart), not kept. Events come from two
// threads with times taken a little earlier, so each goes in at its place in time.
void BoardSimulator::Record(WireEvent event, const char* note) {
    {
        std::lock_guard lock(recMu_);
        if (options_.trace) Trace(event, note);
        if (event.kind == WireEvent::Kind::Bytes && event.bytes.empty()) return;
        if (event.sent) sentCount_ += event.bytes.size();
        auto at = log_.end();
        while (at != log_.begin() && std::prev(at)->time > event.time) --at;
        log_.insert(at, std::move(event));
    }
    recCv_.notify_all();
}

void BoardSimulator::Trace(const WireEvent& ev, const char* note) {
    const double t = std::chrono::duration<double>(ev.time - started_).count();
    char head[64];
    std::snprintf(head, sizeof head, "%11.6f %s %6u", t,
                  ev.bytes.empty() ? "--" : (ev.sent ? "tx" : "rx"), ev.rate);
    std::string line = head;
    for (uint8_t b : ev.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    if (note && *note) line += std::string(" (") + note + ")";
    if (options_.traceSink)
        options_.traceSink(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::vector<uint8_t> BoardSimulator::ReceivedBytes() const {
    std::lock_guard lock(recMu_);
    std::vector<uint8_t> out;
    for (const auto& e : log_)
        if (!e.sent) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

std::vector<uint8_t> BoardSimulator::UnderstoodBytes() const {
    std::lock_guard lock(recMu_);
    std::vector<uint8_t> out;
    for (const auto& e : log_)
        if (!e.sent && e.understood) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

std::vector<uint8_t> BoardSimulator::SentBytes() const {
    std::lock_guard lock(recMu_);
    std::vector<uint8_t> out;
    for (const auto& e : log_)
        if (e.sent) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

std::vector<WireEvent> BoardSimulator::WireLog() const {
    std::lock_guard lock(recMu_);
    return log_;
}

std::vector<FrameEvent> BoardSimulator::FramesReceived() const {
    std::lock_guard lock(recMu_);
    return frames_;
}

void BoardSimulator::ClearRecord() {
    std::lock_guard lock(recMu_);
    log_.clear();
    frames_.clear();
    receivedCount_ = sentCount_ = 0;
}

bool BoardSimulator::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(recMu_);
    return recCv_.wait_for(lock, timeout, [&] { return receivedCount_ >= count; });
}

bool BoardSimulator::WaitForSent(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(recMu_);
    return recCv_.wait_for(lock, timeout, [&] { return sentCount_ >= count; });
}

bool BoardSimulator::WaitForMode(BoardMode mode, std::chrono::milliseconds timeout) const {
    const auto until = Clock::now() + timeout;
    while (Mode() != mode) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool BoardSimulator::WaitSendIdle(std::chrono::milliseconds timeout) const {
    return tx_ ? tx_->WaitIdle(timeout) : true;
}

// ---- state access ----

BoardMode BoardSimulator::Mode() const {
    std::lock_guard lock(mu_);
    return mode_;
}
unsigned BoardSimulator::Rate() const {
    std::lock_guard lock(mu_);
    return rate_;
}
uint8_t BoardSimulator::Relays() const {
    std::lock_guard lock(mu_);
    return relays_;
}
uint8_t BoardSimulator::Inputs() const {
    std::lock_guard lock(mu_);
    return inputs_;
}
uint16_t BoardSimulator::Vcc() const {
    std::lock_guard lock(mu_);
    return vcc_;
}
std::array<uint8_t, 6> BoardSimulator::Config() const {
    std::lock_guard lock(mu_);
    return config_;
}
std::string BoardSimulator::Version() const {
    std::lock_guard lock(mu_);
    return version_;
}
std::string BoardSimulator::Identity() const {
    std::lock_guard lock(mu_);
    return identity_;
}
std::vector<uint8_t> BoardSimulator::Image() const {
    std::lock_guard lock(mu_);
    return image_;
}
size_t BoardSimulator::BlocksReceived() const {
    std::lock_guard lock(mu_);
    return blocks_;
}
bool BoardSimulator::ImageValid() const {
    std::lock_guard lock(mu_);
    return imageValid_;
}
int BoardSimulator::ResetCount() const {
    std::lock_guard lock(mu_);
    return resetCount_;
}
int BoardSimulator::FlashCount() const {
    std::lock_guard lock(mu_);
    return flashCount_;
}
bool BoardSimulator::Silent() const {
    std::lock_guard lock(mu_);
    return silent_;
}
std::map<FaultKind, int> BoardSimulator::Faults() const {
    std::lock_guard lock(mu_);
    return faults_;
}

void BoardSimulator::SetInputs(uint8_t inputs) {
    std::lock_guard lock(mu_);
    if (inputs == inputs_) return;
    inputs_ = inputs;
    if (running_ && mode_ == BoardMode::Firmware) Emit(EncodeFrame(0xB2, {inputs}));
}
void BoardSimulator::SetInputsAtNextReply(uint8_t inputs, ChangeAt at) {
    std::lock_guard lock(mu_);
    crossing_ = CrossingChange{inputs, at};
}
void BoardSimulator::SetRelays(uint8_t relays) {
    std::lock_guard lock(mu_);
    relays_ = relays;
}
void BoardSimulator::SetVcc(uint16_t raw) {
    std::lock_guard lock(mu_);
    vcc_ = raw;
}
void BoardSimulator::SetVersion(const std::string& five) {
    std::lock_guard lock(mu_);
    version_ = Fixed(five, 5);
}
void BoardSimulator::SetSilent(bool on) {
    std::lock_guard lock(mu_);
    silent_ = on;
}
void BoardSimulator::SetPacing(bool on) {
    std::lock_guard lock(mu_);
    options_.pacing = on;
    if (tx_) tx_->SetPacing(on);
}
void BoardSimulator::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mu_);
    replyDelay_ = std::max(delay, std::chrono::milliseconds(0));
}
std::chrono::milliseconds BoardSimulator::ReplyDelay() const {
    std::lock_guard lock(mu_);
    return replyDelay_;
}
void BoardSimulator::SetB8Reply(std::optional<uint8_t> byte) {
    std::lock_guard lock(mu_);
    b8Reply_ = byte;
}
std::optional<uint8_t> BoardSimulator::B8Reply() const {
    std::lock_guard lock(mu_);
    return b8Reply_;
}
void BoardSimulator::SetFault(FaultKind kind) {
    SetFault(kind, DefaultFaultArg(kind));
}
void BoardSimulator::SetFault(FaultKind kind, int arg) {
    std::lock_guard lock(mu_);
    faults_[kind] = arg;
}
void BoardSimulator::ClearFault(FaultKind kind) {
    std::lock_guard lock(mu_);
    faults_.erase(kind);
}
void BoardSimulator::ClearFaults() {
    std::lock_guard lock(mu_);
    faults_.clear();
}
void BoardSimulator::SendGarbage(size_t count) {
    std::lock_guard lock(mu_);
    if (!running_ || silent_) return;
    std::vector<uint8_t> out(count);
    for (auto& b : out) b = static_cast<uint8_t>(random_() & 0xFF);
    tx_->Send(std::move(out), rate_);
}
void BoardSimulator::EnterBootloader() {
    std::lock_guard lock(mu_);
    EnterLoaderLocked(kBootloaderRate, true);
}

}  // namespace swb808::sim
