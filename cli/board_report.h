#pragma once

// The board's records as the tool prints them: JSON members and text lines. Keys are
// documented in the README and kept stable.

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <cstdint>
#include <string>

#include <QString>

#include "cli/exit_status.h"
#include "cli/port_target.h"

namespace swb808::cli {

// "port", "device", "baud" (null when no board answered: 0).
QJsonObject PortJson(const PortTarget& port, int baud);
// "COM3 (/dev/ttyUSB0) at 115200 Bd".
std::string WhereText(const PortTarget& port, int baud);
// "identity" without the board's blank padding, "identity_raw" as the board sent it.
void PutIdentity(QJsonObject& object, const std::string& raw);
std::string IdentityText(const std::string& raw);
// Now in RFC 3339 with milliseconds and the local zone: "2026-12-09T03:04:05.123+01:00".
QString TimeNow();
// The numbers of the set bits, 1..8.
QJsonArray BitNumbers(uint8_t mask);
std::string BitNumbersText(uint8_t mask);  // "1 3", or "none"
std::string HexByte(uint8_t value);        // "0x05"

// "raw", "volts" (three decimals), "in_range" (the window's green range 4.75..5.25 V).
QJsonObject SupplyJson(int32_t vccRaw);
std::string SupplyText(int32_t vccRaw);

// An error as JSON: "code" (a word per exit status: "usage", "no_board", "port_error",
// "file_error", "transfer_failed", "interrupted") and "message".
QJsonObject ErrorJson(ExitStatus status, const std::string& message);
// The document a failed command leaves on stdout under --json: {"ok": false, "error": ...}.
QJsonObject FailureJson(ExitStatus status, const std::string& message);

// "baud" (null when the index is not a rate), "baud_index", "error_report_off",
// "error_report_delay", "retry_off", "retry_delay", "keep_relays".
QJsonObject ConfigJson(const std::array<uint8_t, 6>& config);
std::string ConfigText(const std::array<uint8_t, 6>& config);  // several lines
// The record back from ConfigJson's keys, as far as they tell it: of the flag byte, the three
// bits they name.
std::array<uint8_t, 6> ConfigFromJson(const QJsonObject& config);

}  // namespace swb808::cli
