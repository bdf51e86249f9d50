#include "cli/board_link.h"

#include "cli/exit_status.h"
#include "protocol/paced_wait.h"
#include "serial/com_ports.h"
#include "serial/serial_errors.h"

namespace swb808::cli {

namespace {

constexpr uint8_t kWakeByte = 0xDF;
constexpr uint8_t kCmdReadInputs = 0xB1;
constexpr uint8_t kCmdWriteRelays = 0xB2;
constexpr uint8_t kCmdReadRelays = 0xB3;
constexpr uint8_t kCmdWriteConfig = 0xB4;
constexpr uint8_t kCmdReadConfig = 0xB5;
constexpr uint8_t kCmdReset = 0xBA;
constexpr int kInputChangeCode = 2;
constexpr int kOpenWaitMs = 10;
constexpr int kDrainTurnMs = 10;
constexpr int kAccessDenied = 5;  // operating-system error "File access denied"
// Input-change frames read past before a reply counts as missing.
constexpr int kMaxInputFramesBeforeReply = 4;

std::string OpenFailureText(const PortTarget& target, bool serialError, int32_t code) {
    if (serialError && code == ecAlreadyOpen)
        return target.Name() + " is in use by another program";
    if (serialError && code == ecBadId) return target.Name() + " does not exist";
    if (!serialError && code == kAccessDenied)
        return target.Name() + ": permission denied: add yourself to the dialout group";
    const std::string text = PortErrorText(int16_t(code));
    return target.Name() + ": " + (text.empty() ? "unknown Error!" : text);
}

}  // namespace

BoardLink::BoardLink(PortTarget target) : target_(std::move(target)), protocol_(port_) {}

BoardLink::~BoardLink() {
    Close();
}

void BoardLink::Open(int baud) {
    if (!PortAvailable(target_.com)) throw CliFailure(ExitStatus::PortError, target_.Name() + " does not exist");
    PacedWait(kOpenWaitMs);
    try {
        port_.SetComNumber(uint16_t(target_.com));
        port_.SetBaud(baud);
        if (!port_.Open()) port_.SetOpen(true);
    } catch (const ESerialException& e) {
        throw CliFailure(ExitStatus::PortError, OpenFailureText(target_, true, e.ErrorCode));
    } catch (const EInOutError& e) {
        throw CliFailure(ExitStatus::PortError, OpenFailureText(target_, false, e.ErrorCode));
    }
    if (!port_.Open()) throw CliFailure(ExitStatus::PortError, target_.Name() + " cannot be opened");
    baud_ = baud;
    PacedWait(kOpenWaitMs);
}

void BoardLink::Wake() {
    port_.WriteByte(kWakeByte);
    while (port_.OutputFree() < TSWB808Protocol::kOutputBufferSize && !port_.LineLost())
        PacedWait(kDrainTurnMs);
    ThrowIfLineLost();
}

bool BoardLink::Query(int baud) {
    Open(baud);
    Wake();
    const bool answered = protocol_.readconfig(target_.com, baud);
    ThrowIfLineLost();
    return answered;
}

bool BoardLink::Read(uint8_t command, int32_t replyLength, int expectedCode, int expectedLength) {
    protocol_.Payload[0] = 0x00;
    if (!protocol_.SendCommand(command, 1)) return false;
    PacedWait(TSWB808Protocol::ReplyWaitMs(baud_));
    for (int frames = 0; frames <= kMaxInputFramesBeforeReply; ++frames) {
        const uint32_t r = protocol_.RcvCommand(replyLength);
        ThrowIfLineLost();
        if (ReplyCode(r) == expectedCode && ReplyLength(r) == expectedLength) return true;
        // The board may report an input change just before it answers; both are 7 bytes
        // for the one-byte reads.
        if (ReplyCode(r) != kInputChangeCode || ReplyLength(r) != 1) return false;
        protocol_.OptoState = protocol_.Payload[0];
        if (command == kCmdReadInputs) return true;  // the newest inputs all the same
    }
    return false;
}

bool BoardLink::ReadRelays() {
    if (!Read(kCmdReadRelays, TSWB808Protocol::kReplyByte, kCmdReadRelays & 0x0F, 1)) return false;
    protocol_.RelayState = protocol_.Payload[0];
    return true;
}

bool BoardLink::ReadInputs() {
    if (!Read(kCmdReadInputs, TSWB808Protocol::kReplyByte, kCmdReadInputs & 0x0F, 1)) return false;
    protocol_.OptoState = protocol_.Payload[0];
    return true;
}

bool BoardLink::ReadConfig() {
    if (!Read(kCmdReadConfig, TSWB808Protocol::kReplyConfig, kCmdReadConfig & 0x0F, 6))
        return false;
    std::copy_n(protocol_.Payload.begin(), protocol_.DeviceConfig.size(),
                protocol_.DeviceConfig.begin());
    return true;
}

void BoardLink::WriteRelays(uint8_t mask) {
    protocol_.RelayState = mask;
    protocol_.Payload[0] = mask;
    const bool sent = protocol_.SendCommand(kCmdWriteRelays, 1);
    ThrowIfLineLost();
    if (!sent) throw CliFailure(ExitStatus::PortError, target_.Name() + ": output buffer full");
}

void BoardLink::WriteConfig(const std::array<uint8_t, 7>& record) {
    std::copy(record.begin(), record.end(), protocol_.Payload.begin());
    const bool sent = protocol_.SendCommand(kCmdWriteConfig, int32_t(record.size()));
    ThrowIfLineLost();
    if (!sent) throw CliFailure(ExitStatus::PortError, target_.Name() + ": output buffer full");
    std::copy_n(record.begin(), protocol_.DeviceConfig.size(), protocol_.DeviceConfig.begin());
}

void BoardLink::SendReset() {
    protocol_.Payload[0] = 0x00;
    const bool sent = protocol_.SendCommand(kCmdReset, 1);
    ThrowIfLineLost();
    if (!sent) throw CliFailure(ExitStatus::PortError, target_.Name() + ": output buffer full");
}

void BoardLink::ThrowIfLineLost() {
    if (port_.Open() && port_.LineLost())
        throw CliFailure(ExitStatus::PortError, target_.Name() + ": " + port_.LineLostText());
}

void BoardLink::Close() {
    baud_ = 0;
    try {
        if (port_.Open()) {
            port_.DiscardOutput();
            port_.SetOpen(false);
        }
    } catch (...) {
        // closing a port that has gone is not a failure of the command
    }
}

}  // namespace swb808::cli
