#pragma once

// The board's records as the tool prints them: JSON members and text lines. Keys are
// documented in the README and kept stable.

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <cstdint>
#include <string>

#include "cli/port_target.h"

namespace swb808::cli {

// "port", "device", "baud".
QJsonObject PortJson(const PortTarget& port, int baud);
// The numbers of the set bits, 1..8.
QJsonArray BitNumbers(uint8_t mask);
std::string BitNumbersText(uint8_t mask);  // "1 3", or "none"
std::string HexByte(uint8_t value);        // "0x05"

// "raw", "volts" (three decimals), "in_range" (the window's green range 4.75..5.25 V).
QJsonObject SupplyJson(int32_t vccRaw);
std::string SupplyText(int32_t vccRaw);

// "baud" (null when the index is not a rate), "baud_index", "error_report_off",
// "error_report_delay", "retry_off", "retry_delay", "keep_relays".
QJsonObject ConfigJson(const std::array<uint8_t, 6>& config);
std::string ConfigText(const std::array<uint8_t, 6>& config);  // several lines

}  // namespace swb808::cli
