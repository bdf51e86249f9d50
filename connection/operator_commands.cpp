// The operator's commands while a board is connected. The writes read no reply.

#include <algorithm>
#include <limits>
#include <utility>

#include "connection/board_session.h"
#include "connection/scoped_count.h"
#include "protocol/board_facts.h"
#include "protocol/device_records.h"

namespace swb808 {

namespace {

template <typename T>
T Checked(int value) {
    if (value < 0 || value > int(std::numeric_limits<T>::max())) throw ERangeError();
    return T(value);
}

}  // namespace

void BoardSession::ToggleRelay(int relay) {
    if (relay < 1 || relay > 8) return;
    WriteRelays(uint8_t(protocol_.RelayState ^ (1u << (relay - 1))));
}

// The LEDs show the state asked for, not a confirmed one.
void BoardSession::WriteRelays(uint8_t mask) {
    protocol_.RelayState = mask;
    view_.RelaysShown(protocol_.RelayState);
    protocol_.Payload[0] = protocol_.RelayState;
    protocol_.SendCommand(board::kWriteRelays, 1);
    Publish(BoardEventKind::RelayChange);
}

void BoardSession::SaveConfig(const ConfigValues& values) {
    // No picked rate (the board reported a rate code above 14) cannot be written.
    const auto record =
        ConfigWriteRecord(Checked<uint8_t>(values.baudIndex), Checked<uint16_t>(values.errorDelay),
                          Checked<uint16_t>(values.retryDelay), values.keepRelays, values.noRetry,
                          values.ignoreErrors);
    std::copy_n(record.begin(), protocol_.DeviceConfig.size(), protocol_.DeviceConfig.begin());
    std::copy(record.begin(), record.end(), protocol_.Payload.begin());
    protocol_.SendCommand(board::kWriteConfig, int32_t(record.size()));
}

// The reads use the rate the board was found (or attached) at. The input-change handler
// leaves the receive to the read meanwhile; what it was signalled for runs after the reply.
bool BoardSession::ReadReply(uint8_t command, int32_t replyLength, int payloadLength,
                             const std::function<void(const TSWB808Protocol::TBuffer&)>& take) {
    const int32_t baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_;
    bool answered;
    {
        const ScopedCount awaiting(replyAwaited_);
        answered = protocol_.ReadRecord(command, replyLength, payloadLength, baud,
                                        [this](uint8_t mask) { TellInputs(mask); });
    }
    if (answered) take(protocol_.Payload);
    if (std::exchange(inputChangeDeferred_, false) && port_.OnTriggerData && port_.Open())
        port_.OnTriggerData(port_, 0);
    return answered;
}

std::optional<uint8_t> BoardSession::ReadRelays() {
    if (!ReadReply(board::kReadRelays, TSWB808Protocol::kReplyByte, 1, [this](const auto& p) {
            if (protocol_.RelayState != p[0]) {
                protocol_.RelayState = p[0];
                Publish(BoardEventKind::RelayChange);
            }
            view_.RelaysShown(protocol_.RelayState);
        }))
        return std::nullopt;
    return protocol_.RelayState;
}

// The newest inputs known: a change the board reported behind the reply counts.
std::optional<uint8_t> BoardSession::ReadInputs() {
    if (!ReadReply(board::kReadInputs, TSWB808Protocol::kReplyByte, 1, [this](const auto& p) {
            if (protocol_.OptoState != p[0]) {
                protocol_.OptoState = p[0];
                TellInputs(protocol_.OptoState);
            }
        }))
        return std::nullopt;
    return protocol_.OptoState;
}

std::optional<int32_t> BoardSession::ReadVcc() {
    if (!ReadReply(board::kReadVcc, TSWB808Protocol::kReplyVcc, 2,
                   [this](const auto& p) { protocol_.VccRaw = p[0] + 256 * p[1]; }))
        return std::nullopt;
    return protocol_.VccRaw;
}

std::optional<std::array<uint8_t, 6>> BoardSession::ReadConfig() {
    if (!ReadReply(board::kReadConfig, TSWB808Protocol::kReplyConfig, int(board::kConfigLength),
                   [this](const auto& p) {
                       std::copy_n(p.begin(), protocol_.DeviceConfig.size(),
                                   protocol_.DeviceConfig.begin());
                   }))
        return std::nullopt;
    return protocol_.DeviceConfig;
}

std::optional<std::string> BoardSession::ReadVersion() {
    if (!ReadReply(board::kReadVersion, TSWB808Protocol::kReplyVersion, board::kVersionLength,
                   [this](const auto& p) {
                       protocol_.FirmwareVersion.assign(p.begin(),
                                                        p.begin() + board::kVersionLength);
                   }))
        return std::nullopt;
    return protocol_.FirmwareVersion;
}

// Registrations outlive the port's close: one is enough for the session.
void BoardSession::ListenForInputChanges() {
    if (inputTrigger_) return;
    port_.AddTriggerString(board::kInputChangeHead, false);
    inputTrigger_ = true;
}

bool BoardSession::Query() {
    if (IsConnected()) return protocol_.readconfig(connectedRef_.Name(), connectedBaud_);
    if (IsAttached()) return protocol_.readconfig(opened_.Name(), attachedBaud_);
    return false;
}

}  // namespace swb808
