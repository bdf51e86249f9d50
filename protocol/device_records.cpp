#include "protocol/device_records.h"

#include <charconv>

namespace swb808 {

uint8_t ConfigChecksum(const uint8_t* sixBytes) {
    unsigned sum = 0;
    for (int i = 0; i < 6; ++i) sum += sixBytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

std::array<uint8_t, 7> ConfigWriteRecord(uint8_t baudIndex, uint16_t errorDelay,
                                         uint16_t retryDelay, bool keepRelays, bool noRetry,
                                         bool ignoreErrors) {
    std::array<uint8_t, 7> r{};
    r[0] = baudIndex;
    r[1] = static_cast<uint8_t>(errorDelay & 0xFF);
    r[2] = static_cast<uint8_t>(errorDelay >> 8);
    r[3] = static_cast<uint8_t>(retryDelay & 0xFF);
    r[4] = static_cast<uint8_t>(retryDelay >> 8);
    r[5] = static_cast<uint8_t>((keepRelays ? kCfgKeepRelays : 0) | (noRetry ? kCfgNoRetry : 0) |
                                (ignoreErrors ? kCfgIgnoreErrors : 0));
    r[6] = ConfigChecksum(r.data());
    return r;
}

double VccVolts(uint32_t vccRaw) {
    // Kept in this order: the displayed digits depend on the rounding of each step.
    double v = static_cast<double>(vccRaw);
    v = v * 2.56;
    v = v / 1023;
    v = v * 8;
    v = v / 3.3;
    return v;
}

std::string VccText(double volts, std::string_view decimalSeparator) {
    // to_chars ignores the C locale (Qt sets it from the environment), so the point is ours
    // to replace.
    char digits[64];
    auto res = std::to_chars(digits, digits + sizeof digits, volts, std::chars_format::general, 15);
    std::string_view text(digits,
                          res.ec == std::errc() ? static_cast<size_t>(res.ptr - digits) : 0);
    text = text.substr(0, 5);
    std::string out;
    for (char c : text) {
        if (c == '.')
            out += decimalSeparator;
        else
            out += c;
    }
    out += " V";
    return out;
}

bool VccInRange(double volts) {
    return volts >= 4.75 && volts <= 5.25;
}

TColor VccColor(double volts) {
    return VccInRange(volts) ? clVccGood : clVccBad;
}

}  // namespace swb808
