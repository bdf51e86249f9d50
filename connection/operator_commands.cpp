// The operator's commands while a board is connected. The writes read no reply.

#include <algorithm>
#include <limits>

#include "connection/board_session.h"
#include "protocol/board_facts.h"
#include "protocol/device_records.h"
#include "protocol/paced_wait.h"

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

namespace {

// One read of the query: 0x00 sent, the reply wait, a 7-byte receive. The record takes the
// payload's first byte whatever came, as the query's does.
std::optional<uint8_t> ReadByteRecord(TSWB808Protocol& protocol, uint8_t command, int32_t baud,
                                      uint8_t& record) {
    protocol.Payload[0] = 0x00;
    protocol.SendCommand(command, 1);
    PacedWait(board::ReplyWaitMs(baud));
    const uint32_t r = protocol.RcvCommand(TSWB808Protocol::kReplyByte);
    record = protocol.Payload[0];
    if (r == 0) return std::nullopt;
    return record;
}

}  // namespace

std::optional<uint8_t> BoardSession::ReadRelays() {
    const auto r = ReadByteRecord(protocol_, board::kReadRelays, connectedBaud_,
                                  protocol_.RelayState);
    view_.RelaysShown(protocol_.RelayState);
    return r;
}

std::optional<uint8_t> BoardSession::ReadInputs() {
    const auto r =
        ReadByteRecord(protocol_, board::kReadInputs, connectedBaud_, protocol_.OptoState);
    view_.InputsShown(protocol_.OptoState);
    return r;
}

bool BoardSession::Query() {
    if (!IsConnected()) return false;
    return protocol_.readconfig(connectedRef_.Name(), connectedBaud_);
}

}  // namespace swb808
