// Entering and leaving the connected state, the lost line, and the program's end.

#include "connection/board_session.h"
#include "protocol/board_facts.h"
#include "protocol/board_text.h"
#include "protocol/paced_wait.h"

namespace swb808 {

void BoardSession::connect() {
    SetState(SessionState::Connected);
    staleWaiting_ = 0;
    SetProgress(SessionView::kProgressMax);
    const std::string version = AnsiToUtf8(protocol_.FirmwareVersion);
    const std::string name = connectedRef_.Name();
    const std::string baud = std::to_string(connectedBaud_);
    SetStatus("SWB808 found at " + name + " at " + baud + " Baud, Firmware Version " + version);
    view_.Message(name + ": Baud=" + baud + ": SWB808 gefunden, Firmware Version " + version,
                  kMessageBlack);
    view_.Connected(Records());
    Publish(BoardEventKind::Connected);
}

void BoardSession::disconnect() {
    // The end of a transfer disconnects too; the transfer itself then ends the state.
    if (state_ != SessionState::Flashing) SetState(SessionState::Idle);
    const BoardEvent left = NewEvent(BoardEventKind::Disconnected);
    lastRef_ = left.port;
    lastBaud_ = left.baud;
    loaderLinked_ = false;
    attachedBaud_ = 0;
    connectedPort_ = 0;
    connectedBaud_ = 0;
    connectedRef_ = {};
    opened_ = {};
    SetProgress(0);
    SetStatus("disconnected");
    view_.Disconnected();
    CloseQuietly();
    events_.Publish(left);
}

// The reset frame, then "auto" in the rate picker (the board may restart at the rate
// "Speichern" stored: a rescan searches them all), then the disconnect.
void BoardSession::ResetAndLeave() {
    SetState(SessionState::Closing);
    protocol_.Payload[0] = 0;
    protocol_.SendCommand(board::kReset, 1);
    view_.SelectAutoBaud();
    disconnect();
}

void BoardSession::Close() {
    if (!IsConnected()) return;
    ResetAndLeave();
    PacedWait(board::kResetWaitMs);
}

void BoardSession::Reset(const std::function<ScanRequest()>& rescan) {
    if (!IsConnected()) return;
    ResetAndLeave();
    view_.ResetBegins();
    PacedWait(board::kResetWaitMs);
    if (rescan) Scan(rescan());
}

void BoardSession::FormClose() {
    if (!IsConnected()) return;
    protocol_.Payload[0] = 0;
    protocol_.SendCommand(board::kReset, 1);
}

// Runs every half second, also inside the waits of other handlers. A transfer and the
// input-change handler watch the line themselves; anything else may be cut short, as the
// close is deferred while a notification is being handled.
void BoardSession::LineCheck() {
    if (state_ != SessionState::Connected && state_ != SessionState::Closing) return;
    if (port_.LineLost()) {
        const std::string name = connectedRef_.Name();
        disconnect();
        TellLineLost(name);  // after disconnect, whose "disconnected" would hide it
        return;
    }
    // A read waiting for its reply owns what is waiting: at 300 Bd its reply wait outlasts two
    // checks, and the reply that came in the meantime is not stale.
    if (inputChangeDepth_ == 0 && replyAwaited_ == 0) DropStaleInput();
}

std::string BoardSession::LoseVanishedLine() {
    if (!port_.Open() || !port_.LineLost()) return {};
    const std::string text = port_.LineLostText();
    if (state_ == SessionState::Connected) {
        const std::string name = connectedRef_.Name();
        disconnect();
        TellLineLost(name);
    } else {
        DropLostLine();
        attachedBaud_ = 0;
    }
    return text;
}

void BoardSession::TellLineLost(const std::string& portName) {
    const std::string text = portName + ": Verbindung zum Gerät verloren";
    view_.Message(text, kMessageRed);
    SetStatus(text);
    BoardEvent e = NewEvent(BoardEventKind::Lost);
    e.message = text;
    events_.Publish(std::move(e));
}

bool BoardSession::DropLostLine() {
    if (!port_.Open() || !port_.LineLost()) return false;
    lastRef_ = PortRef{port_.ComNumber(), port_.DevicePath()};
    TellLineLost(lastRef_.Name());
    CloseQuietly();
    opened_ = {};  // the device may come back under the same name: open it afresh then
    return true;
}

}  // namespace swb808
