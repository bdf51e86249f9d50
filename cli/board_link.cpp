#include "cli/board_link.h"

#include <cstdio>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "protocol/board_facts.h"
#include "protocol/paced_wait.h"
#include "serial/serial_errors.h"

namespace swb808::cli {

namespace {

constexpr int kDrainTurnMs = 10;
constexpr int kAccessDenied = 5;  // operating-system error "File access denied"
// Input-change frames read past before a reply counts as missing.
constexpr int kMaxInputFramesBeforeReply = 4;

std::string OpenFailureText(const PortTarget& target, const std::optional<OpenFailure>& failure) {
    if (!failure) return target.Name() + " cannot be opened";
    if (failure->code == ecAlreadyOpen) return target.Name() + " is in use by another program";
    if (failure->code == ecBadId) return target.Name() + " does not exist";
    if (failure->code == kAccessDenied || failure->code == ecAccessDenied)
        return target.Name() + ": permission denied: add yourself to the dialout group";
    return target.Name() + ": " + failure->text;
}

}  // namespace

std::vector<int> AllRates() {
    return {board::kBaudRates.begin(), board::kBaudRates.end()};
}

std::vector<int> RatesStartingWith(int first) {
    std::vector<int> rates{first};
    for (int r : board::kBaudRates)
        if (r != first) rates.push_back(r);
    return rates;
}

// The queue is made on this thread, which makes it its owner; the pump runs it in every wait.
BoardLink::BoardLink(PortTarget target)
    : target_(std::move(target)),
      queue_(std::make_shared<TLogicQueue>()),
      pump_([q = queue_] {
          q->ProcessPending();
          ThrowIfInterrupted();
      }),
      session_(view_) {
    session_.AttachTo(queue_);
    // Ctrl-C inside a handler's wait ends the handler; the wait around it ends the command.
    SetHandlerErrorReporter([](const std::string& message) {
        if (message != Interrupted().what() && message != OutputLost().what())
            std::fprintf(stderr, "swb808ctl: %s\n", message.c_str());
    });
}

BoardLink::~BoardLink() {
    session_.AttachTo(nullptr);
}

void BoardLink::ThrowOpenFailure() {
    throw CliFailure(ExitStatus::PortError, OpenFailureText(target_, session_.LastOpenFailure()));
}

void BoardLink::Open(int baud) {
    if (!session_.OpenSWBPort(Ref(), baud)) ThrowOpenFailure();
    baud_ = baud;
}

void BoardLink::Wake() {
    Port().WriteByte(board::kWakeByte);
    Drain();
}

// The close discards what is still queued: a frame the board does not answer must have
// left before the tool may end.
void BoardLink::Drain() {
    TSerialPort& port = Port();
    while (port.OutputFree() < TSWB808Protocol::kOutputBufferSize && !port.LineLost())
        PacedWait(kDrainTurnMs);
    ThrowIfLineLost();
}

bool BoardLink::Connect(const std::vector<int>& rates) {
    const int found = session_.Scan(ScanRequest{{Ref()}, {rates.begin(), rates.end()}});
    if (found > 0) {
        baud_ = found;
        listening_ = true;  // a successful scan registers the trigger
        return true;
    }
    // Not there, or the port could not be used: only the second is a port failure. A line
    // that went away during the query is one too, not a board that stayed silent.
    if (LineWasLost()) throw CliFailure(ExitStatus::PortError, LineLostText());
    if (session_.LastOpenFailure()) ThrowOpenFailure();
    return false;
}

bool BoardLink::Read(uint8_t command, int32_t replyLength, int expectedLength) {
    TSWB808Protocol& p = Protocol();
    p.Payload[0] = 0x00;
    if (!p.SendCommand(command, 1)) return false;
    PacedWait(board::ReplyWaitMs(baud_));
    for (int frames = 0; frames <= kMaxInputFramesBeforeReply; ++frames) {
        const uint32_t r = p.RcvCommand(replyLength);
        ThrowIfLineLost();
        if (ReplyCode(r) == (command & 0x0F) && ReplyLength(r) == expectedLength) return true;
        // The board may report an input change just before it answers; both are 7 bytes
        // for the one-byte reads.
        if (ReplyCode(r) != board::kInputChangeReplyCode || ReplyLength(r) != 1) return false;
        p.OptoState = p.Payload[0];
        if (command == board::kReadInputs) return true;  // the newest inputs all the same
    }
    return false;
}

bool BoardLink::ReadRelays() {
    if (!Read(board::kReadRelays, TSWB808Protocol::kReplyByte, 1)) return false;
    Protocol().RelayState = Protocol().Payload[0];
    return true;
}

bool BoardLink::ReadInputs() {
    if (!Read(board::kReadInputs, TSWB808Protocol::kReplyByte, 1)) return false;
    Protocol().OptoState = Protocol().Payload[0];
    return true;
}

bool BoardLink::ReadVersion() {
    if (!Read(board::kReadVersion, TSWB808Protocol::kReplyVersion, board::kVersionLength))
        return false;
    Protocol().FirmwareVersion.assign(Protocol().Payload.begin(),
                                      Protocol().Payload.begin() + board::kVersionLength);
    return true;
}

bool BoardLink::ReadConfig() {
    if (!Read(board::kReadConfig, TSWB808Protocol::kReplyConfig, int(board::kConfigLength)))
        return false;
    std::copy_n(Protocol().Payload.begin(), Protocol().DeviceConfig.size(),
                Protocol().DeviceConfig.begin());
    return true;
}

bool BoardLink::ReadSupply() {
    if (!Read(board::kReadVcc, TSWB808Protocol::kReplyVcc, 2)) return false;
    Protocol().VccRaw = Protocol().Payload[0] + 256 * Protocol().Payload[1];
    return true;
}

void BoardLink::WriteRelays(uint8_t mask) {
    session_.WriteRelays(mask);
    Drain();
}

void BoardLink::WriteConfig(const ConfigValues& values) {
    session_.SaveConfig(values);
    Drain();
}

bool BoardLink::Reset(const std::vector<int>& rates) {
    const PortRef ref = Ref();
    session_.Reset([ref, rates] { return ScanRequest{{ref}, {rates.begin(), rates.end()}}; });
    if (!session_.IsConnected()) {
        if (session_.LastOpenFailure()) ThrowOpenFailure();
        return false;
    }
    baud_ = session_.ConnectedBaud();
    listening_ = true;
    return true;
}

void BoardLink::ListenForInputChanges() {
    if (listening_) return;
    Port().AddTriggerString(board::kInputChangeHead, false);
    listening_ = true;
}

bool BoardLink::WaitUntil(const std::function<bool()>& done,
                          std::chrono::steady_clock::time_point deadline) {
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        PacedWait(kDrainTurnMs);
        ThrowIfLineLost();
    }
    return true;
}

void BoardLink::ThrowIfLineLost() {
    if (Port().Open() && Port().LineLost()) throw CliFailure(ExitStatus::PortError, LineLostText());
}

bool BoardLink::LineWasLost() {
    return Port().LineLost();
}

std::string BoardLink::LineLostText() {
    return target_.Name() + ": line lost: " + Port().LineLostText();
}

}  // namespace swb808::cli
