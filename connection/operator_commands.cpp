// The operator's commands while a board is connected. The writes read no reply.

#include <algorithm>
#include <limits>

#include "connection/board_session.h"
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

// The reads use the rate the board was found (or attached) at.
std::optional<uint8_t> BoardSession::ReadRelays() {
    const int32_t baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_;
    if (!protocol_.ReadRecord(board::kReadRelays, TSWB808Protocol::kReplyByte, 1, baud,
                              [this](uint8_t mask) { TellInputs(mask); }))
        return std::nullopt;
    if (protocol_.RelayState != protocol_.Payload[0]) {
        protocol_.RelayState = protocol_.Payload[0];
        Publish(BoardEventKind::RelayChange);
    }
    view_.RelaysShown(protocol_.RelayState);
    return protocol_.RelayState;
}

std::optional<uint8_t> BoardSession::ReadInputs() {
    const int32_t baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_;
    bool seen = false;  // the newest mask came as a change frame, already told
    if (!protocol_.ReadRecord(board::kReadInputs, TSWB808Protocol::kReplyByte, 1, baud,
                              [&](uint8_t mask) {
                                  seen = true;
                                  TellInputs(mask);
                              }))
        return std::nullopt;
    if (!seen && protocol_.OptoState != protocol_.Payload[0]) {
        protocol_.OptoState = protocol_.Payload[0];
        TellInputs(protocol_.OptoState);
    }
    return protocol_.OptoState;
}

std::optional<int32_t> BoardSession::ReadVcc() {
    const int32_t baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_;
    if (!protocol_.ReadRecord(board::kReadVcc, TSWB808Protocol::kReplyVcc, 2, baud,
                              [this](uint8_t mask) { TellInputs(mask); }))
        return std::nullopt;
    protocol_.VccRaw = protocol_.Payload[0] + 256 * protocol_.Payload[1];
    return protocol_.VccRaw;
}

std::optional<std::array<uint8_t, 6>> BoardSession::ReadConfig() {
    const int32_t baud = connectedBaud_ != 0 ? connectedBaud_ : attachedBaud_;
    if (!protocol_.ReadRecord(board::kReadConfig, TSWB808Protocol::kReplyConfig,
                              int(board::kConfigLength), baud,
                              [this](uint8_t mask) { TellInputs(mask); }))
        return std::nullopt;
    std::copy_n(protocol_.Payload.begin(), protocol_.DeviceConfig.size(),
                protocol_.DeviceConfig.begin());
    return protocol_.DeviceConfig;
}

bool BoardSession::Query() {
    if (IsConnected()) return protocol_.readconfig(connectedRef_.Name(), connectedBaud_);
    if (IsAttached()) return protocol_.readconfig(opened_.Name(), attachedBaud_);
    return false;
}

}  // namespace swb808
