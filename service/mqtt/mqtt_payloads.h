#pragma once

// The commands' payloads, checked before anything goes to a board. Each reader throws
// std::runtime_error with a text for `<board>/error` when it does not understand the payload.

#include <cstdint>
#include <optional>
#include <string>

namespace swb808::service {

inline constexpr int64_t kLongestMqttPulseMs = 10 * 60 * 1000;

enum class SwitchTo { On, Off, Toggle };
// "ON", "OFF", "TOGGLE" (any case, blanks around allowed).
SwitchTo ParseSwitch(const std::string& payload);
// "500" or {"ms": 500}: 1 ms to ten minutes.
int64_t ParsePulseMs(const std::string& payload);

// {"mask": N}, or {"on": [..], "off": [..]}: one frame either way.
struct RelaysChange {
    std::optional<uint8_t> mask;
    uint8_t on = 0, off = 0;
};
RelaysChange ParseRelaysChange(const std::string& payload);

// A topic's relay level: 1..8.
int ParseRelayLevel(const std::string& level);

}  // namespace swb808::service
