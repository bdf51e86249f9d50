// The typed board API on a session: each call checks that the board can take it, runs the
// session's command and turns what happened into a value or a BoardError.

#include "connection/board.h"

#include "connection/board_session.h"
#include "protocol/board_text.h"
#include "protocol/device_records.h"
#include "serial/serial_errors.h"

namespace swb808 {

namespace {

constexpr int kAccessDenied = 5;  // operating-system error "File access denied"

Failure OpenFailed(const std::string& name, const std::optional<OpenFailure>& failure) {
    if (!failure) return Fail(BoardErrc::PortFailed, name + " cannot be opened");
    if (failure->code == ecAlreadyOpen)
        return Fail(BoardErrc::PortInUse, name + " is in use by another program");
    if (failure->code == ecBadId) return Fail(BoardErrc::PortMissing, name + " does not exist");
    if (failure->code == kAccessDenied || failure->code == ecAccessDenied)
        return Fail(BoardErrc::NoPermission, name + ": permission denied");
    return Fail(BoardErrc::PortFailed, name + ": " + failure->text);
}

std::string PortNames(const std::vector<PortRef>& ports) {
    std::string names;
    for (const auto& p : ports) names += (names.empty() ? "" : ", ") + p.Name();
    return names;
}

BoardIdentity IdentityOf(const BoardRecords& r) {
    return BoardIdentity{IdentityKey(r.deviceId), r.deviceId, r.port, r.baud};
}

}  // namespace

ConfigValues ConfigValuesOf(const ConfigRecord& r) {
    ConfigValues v;
    v.baudIndex = r[0];
    v.errorDelay = r[1] + 256 * r[2];
    v.retryDelay = r[3] + 256 * r[4];
    v.keepRelays = (r[5] & kCfgKeepRelays) != 0;
    v.noRetry = (r[5] & kCfgNoRetry) != 0;
    v.ignoreErrors = (r[5] & kCfgIgnoreErrors) != 0;
    return v;
}

Result<void> Board::Ready() const {
    switch (session_.State()) {
        case SessionState::Scanning:
        case SessionState::Flashing:
        case SessionState::Closing:
            return Fail(BoardErrc::Busy,
                        std::string("the board is ") + StateName(session_.State()));
        default:
            break;
    }
    if (!session_.IsConnected() && !session_.IsAttached())
        return Fail(BoardErrc::NotConnected, "no board is connected");
    return {};
}

// A failed command on a vanished line is a lost line, also when the line check inside the
// command's waits has already let the board go.
Result<void> Board::Finish(bool ok, const std::string& what) {
    const std::string lost = session_.LoseVanishedLine();
    if (!lost.empty()) return Fail(BoardErrc::LineLost, session_.Port().DevicePath() + ": " + lost);
    if (!session_.IsConnected() && !session_.IsAttached())
        return Fail(BoardErrc::LineLost, "the line was lost");
    if (!ok) return Fail(BoardErrc::NoAnswer, "the board did not answer " + what);
    return {};
}

Result<BoardIdentity> Board::Open(const OpenRequest& request) {
    if (session_.State() != SessionState::Idle)
        return Fail(BoardErrc::Busy, std::string("the board is ") + StateName(session_.State()));
    if (session_.IsAttached()) session_.disconnect();
    session_.ClearStopRequest();
    const int32_t found = session_.Scan(ScanRequest{request.ports, request.rates});
    if (found == 0) {
        if (session_.StopRequested()) return Fail(BoardErrc::Stopped, "the search was stopped");
        if (session_.LastOpenFailure() && request.ports.size() == 1)
            return OpenFailed(request.ports.front().Name(), session_.LastOpenFailure());
        return Fail(BoardErrc::NoAnswer, "no board answered on " + PortNames(request.ports));
    }
    BoardIdentity id = IdentityOf(session_.Records());
    if (request.expectedKey && *request.expectedKey != id.key) {
        session_.disconnect();
        return Fail(BoardErrc::OtherBoard,
                    id.port.Name() + ": another board answered (\"" + id.key + "\")");
    }
    return id;
}

Result<void> Board::Attach(const PortRef& port, int32_t baud) {
    if (session_.State() != SessionState::Idle)
        return Fail(BoardErrc::Busy, std::string("the board is ") + StateName(session_.State()));
    if (session_.IsAttached()) session_.disconnect();
    if (!session_.Attach(port, baud)) {
        if (session_.LastOpenFailure()) return OpenFailed(port.Name(), session_.LastOpenFailure());
        return Finish(false, "the wake byte");
    }
    return {};
}

Result<void> Board::Close() {
    if (auto ready = Ready(); !ready) return ready;
    if (session_.IsConnected())
        session_.Close();
    else
        session_.disconnect();
    return {};
}

void Board::Release() {
    if (session_.IsConnected() || session_.IsAttached()) session_.disconnect();
}

Result<BoardIdentity> Board::Reset(const std::vector<int32_t>& rates) {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    if (!session_.IsConnected()) return Fail(BoardErrc::NotConnected, "no board is connected");
    const BoardIdentity before = IdentityOf(session_.Records());
    const std::string oldVersion = AnsiToUtf8(session_.Records().firmwareVersion);
    const PortRef port = before.port;
    session_.ClearStopRequest();
    session_.Reset([port, rates] { return ScanRequest{{port}, rates}; });
    if (!session_.IsConnected()) {
        if (session_.LastOpenFailure()) return OpenFailed(port.Name(), session_.LastOpenFailure());
        return Fail(BoardErrc::NoAnswer,
                    port.Name() + ": the board did not answer after the reset");
    }
    const BoardIdentity after = IdentityOf(session_.Records());
    if (!after.SameBoard(before)) {
        session_.disconnect();
        return Fail(BoardErrc::OtherBoard,
                    port.Name() + ": another board answered (\"" + after.key + "\")");
    }
    BoardEvent e = session_.NewEvent(BoardEventKind::FoundAgain);
    e.oldVersion = oldVersion;
    e.newVersion = AnsiToUtf8(session_.Records().firmwareVersion);
    session_.Events().Publish(std::move(e));
    return after;
}

bool Board::IsConnected() const {
    return session_.IsConnected();
}

bool Board::IsAttached() const {
    return session_.IsConnected() || session_.IsAttached();
}

std::optional<BoardIdentity> Board::Identity() const {
    if (session_.State() != SessionState::Connected) return std::nullopt;
    return IdentityOf(session_.Records());
}

SessionState Board::State() const {
    return session_.State();
}

Result<BoardRecords> Board::ReadState() {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    const bool ok = session_.Query();
    if (auto done = Finish(ok, "the query"); !done) return Failure{done.error()};
    BoardRecords r = session_.Records();
    if (!session_.IsConnected()) r.port = session_.OpenedPortRef();
    return r;
}

Result<uint8_t> Board::ReadRelays() {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    const auto r = session_.ReadRelays();
    if (auto done = Finish(r.has_value(), "the relay read"); !done) return Failure{done.error()};
    return *r;
}

Result<uint8_t> Board::ReadInputs() {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    const auto r = session_.ReadInputs();
    if (auto done = Finish(r.has_value(), "the input read"); !done) return Failure{done.error()};
    return *r;
}

Result<SupplyReading> Board::ReadSupply() {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    const auto r = session_.ReadVcc();
    if (auto done = Finish(r.has_value(), "the supply read"); !done) return Failure{done.error()};
    const double volts = VccVolts(uint32_t(*r));
    return SupplyReading{*r, volts, VccInRange(volts)};
}

Result<ConfigRecord> Board::ReadConfig() {
    if (auto ready = Ready(); !ready) return Failure{ready.error()};
    const auto r = session_.ReadConfig();
    if (auto done = Finish(r.has_value(), "the configuration read"); !done)
        return Failure{done.error()};
    return *r;
}

Result<void> Board::WriteRelays(uint8_t mask) {
    if (auto ready = Ready(); !ready) return ready;
    session_.WriteRelays(mask);
    return Finish(true, "");
}

Result<void> Board::SetRelay(int relay, bool on) {
    if (relay < 1 || relay > 8)
        return Fail(BoardErrc::BadArgument, "relay " + std::to_string(relay) + " is not 1..8");
    const auto bit = uint8_t(1u << (relay - 1));
    return SetRelays(on ? bit : 0, on ? 0 : bit);
}

Result<void> Board::SetRelays(uint8_t on, uint8_t off) {
    if ((on & off) != 0) return Fail(BoardErrc::BadArgument, "a relay is both on and off");
    return WriteRelays(uint8_t((session_.Records().relays | on) & ~off));
}

Result<void> Board::WriteConfig(const ConfigValues& values) {
    if (auto ready = Ready(); !ready) return ready;
    try {
        session_.SaveConfig(values);
    } catch (const ERangeError& e) {
        return Fail(BoardErrc::BadArgument, e.what());
    }
    return Finish(true, "");
}

Result<void> Board::CheckLine() {
    const std::string lost = session_.LoseVanishedLine();
    if (!lost.empty()) return Fail(BoardErrc::LineLost, lost);
    return {};
}

BoardEvents::Subscription Board::Subscribe(BoardEvents::Callback callback) {
    return session_.Events().Subscribe(std::move(callback));
}

Result<LoaderLink> Board::Loader() {
    if (session_.State() == SessionState::Flashing)
        return Fail(BoardErrc::Busy, "a transfer is running");
    return LoaderLink(session_);
}

void Board::RequestStop() {
    session_.RequestStop();
}

}  // namespace swb808
