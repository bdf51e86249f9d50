#pragma once

// The board's records as the window shows and edits them: the configuration write record and
// the supply-voltage reading.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/colors.h"

namespace swb808 {

// Flag bits of configuration byte 5; the other bits are written as 0.
inline constexpr uint8_t kCfgKeepRelays = 0x01;    // keep the relay state on a connection error
inline constexpr uint8_t kCfgNoRetry = 0x02;       // do not retry the connection set-up
inline constexpr uint8_t kCfgIgnoreErrors = 0x04;  // ignore connection errors

// The seven bytes sent with the configuration write: baud index, error report delay (low,
// high), retry delay (low, high), flags, and the sum of those six bytes modulo 256.
std::array<uint8_t, 7> ConfigWriteRecord(uint8_t baudIndex, uint16_t errorDelay,
                                         uint16_t retryDelay, bool keepRelays, bool noRetry,
                                         bool ignoreErrors);

// The checksum byte of a configuration record: the sum of its first six bytes modulo 256.
uint8_t ConfigChecksum(const uint8_t* sixBytes);

// Supply voltage of a raw reading, computed left to right in double precision.
double VccVolts(uint32_t vccRaw);

// The voltage as shown: the first five characters of its 15-significant-digit text, with
// `decimalSeparator` in place of the point, followed by " V".
std::string VccText(double volts, std::string_view decimalSeparator = ".");

// The supply is in range from 4.75 V to 5.25 V, both included.
bool VccInRange(double volts);

// clVccGood in range, clVccBad outside.
TColor VccColor(double volts);

}  // namespace swb808
