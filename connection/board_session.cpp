// The session object itself: its state, its hosting on a plain thread, its records.

#include "connection/board_session.h"

#include "connection/board_identity.h"
#include "connection/logic_queue.h"
#include "protocol/board_facts.h"

namespace swb808 {

const char* StateName(SessionState state) {
    switch (state) {
        case SessionState::Idle:
            return "idle";
        case SessionState::Scanning:
            return "scanning";
        case SessionState::Connected:
            return "connected";
        case SessionState::Flashing:
            return "flashing";
        case SessionState::Closing:
            return "closing";
    }
    return "?";
}

ScanRequest ScanRequest::Auto() {
    return ScanRequest{AllComPorts(), AllRates()};
}

std::vector<int32_t> ScanRequest::AllRates() {
    return {board::kBaudRates.begin(), board::kBaudRates.end()};
}

BoardSession::BoardSession(SessionView& view) : view_(view) {
    port_.OnTriggerData = [this](TSerialPort& CP, uint16_t handle) {
        if (runHandler_)
            runHandler_([&] { SWBComPortTriggerData(CP, handle); });
        else
            SWBComPortTriggerData(CP, handle);
    };
    protocol_.SetStatusSink([this](const std::string& text) { SetStatus(text); });
}

BoardSession::~BoardSession() {
    if (queue_ && lineCheckTimer_ != 0) queue_->StopTimer(lineCheckTimer_);
    ClosePort();
}

void BoardSession::ClosePort() {
    port_.OnTriggerData = nullptr;
    CloseQuietly();
}

void BoardSession::AttachTo(const std::shared_ptr<TLogicQueue>& queue) {
    if (queue_ && lineCheckTimer_ != 0) queue_->StopTimer(lineCheckTimer_);
    queue_ = queue;
    lineCheckTimer_ = 0;
    port_.SetNotificationTarget(queue);
    if (queue)
        lineCheckTimer_ = queue->StartTimer(std::chrono::milliseconds(kLineCheckPeriodMs),
                                            [this] { LineCheck(); });
}

// "Closing" is still connected: the reset frame is going out, and a handler nested in its
// drain wait sees the board as it was.
bool BoardSession::IsConnected() const {
    switch (state_) {
        case SessionState::Connected:
        case SessionState::Closing:
            return true;
        case SessionState::Flashing:
            return loaderLinked_;
        default:
            return false;
    }
}

BoardRecords BoardSession::Records() const {
    BoardRecords r;
    r.port = connectedRef_;
    r.baud = connectedBaud_;
    r.firmwareVersion = protocol_.FirmwareVersion;
    r.deviceId = protocol_.DeviceId;
    r.relays = protocol_.RelayState;
    r.inputs = protocol_.OptoState;
    r.vccRaw = protocol_.VccRaw;
    r.config = protocol_.DeviceConfig;
    return r;
}

BoardEvent BoardSession::NewEvent(BoardEventKind kind) const {
    BoardEvent e;
    e.kind = kind;
    e.board = IdentityKey(protocol_.DeviceId);
    e.port = connectedRef_.IsSet() ? connectedRef_ : opened_.IsSet() ? opened_ : lastRef_;
    e.baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_ != 0 ? attachedBaud_ : lastBaud_;
    e.relays = protocol_.RelayState;
    e.inputs = protocol_.OptoState;
    e.supplyRaw = protocol_.VccRaw;
    return e;
}

void BoardSession::TellBlocksDone(int done, int count) {
    view_.BlocksDone(done, count);
    BoardEvent e = NewEvent(BoardEventKind::FlashProgress);
    e.blocksDone = done;
    e.blockCount = count;
    events_.Publish(std::move(e));
}

void BoardSession::TellInputs(uint8_t mask) {
    view_.InputsShown(mask);
    Publish(BoardEventKind::InputChange);
}

void BoardSession::SetState(SessionState state) {
    if (state == state_) return;
    state_ = state;
    view_.StateChanged(state);
}

void BoardSession::SetStatus(const std::string& text) {
    status_ = text;
    view_.StatusText(text);
}

void BoardSession::SetProgress(int value) {
    progress_ = value;
    view_.Progress(value);
}

void BoardSession::BeginFlashing() {
    loaderLinked_ = IsConnected();
    SetState(SessionState::Flashing);
}

void BoardSession::SetLoaderLinked(bool linked) {
    loaderLinked_ = linked;
}

// After the final disconnect the link is gone; a run cut short by an exception leaves the
// board as connected as it was.
void BoardSession::EndFlashing() {
    const bool linked = loaderLinked_;
    loaderLinked_ = false;
    SetState(linked ? SessionState::Connected : SessionState::Idle);
}

void BoardSession::CloseQuietly() {
    try {
        if (port_.Open()) {
            port_.DiscardOutput();
            port_.SetOpen(false);
        }
    } catch (...) {
    }
}

std::string BoardSession::PairLabel(const PortRef& port, int32_t baud) const {
    return port.Name() + ": Baud=" + std::to_string(baud);
}

}  // namespace swb808
