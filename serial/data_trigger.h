#pragma once

// Data triggers: byte strings watched for in the received stream.

#include <array>
#include <cstdint>
#include <string_view>

namespace swb808 {

inline constexpr int kMaxTriggerLength = 21;
inline constexpr int kTriggerSlots = 22;

struct DataTrigger {
    uint32_t handle = 0;
    int32_t length = 0;
    std::array<int32_t, kTriggerSlots>
        matchSlots{};      // bytes matched so far per candidate; 0 = free
    bool matched = false;  // completed at the byte being examined
    bool ignoreCase = false;
    std::array<uint8_t, 24> bytes{};  // upper-cased when ignoreCase is set

    // Feeds one received byte; true when it completes the string (all candidates are dropped).
    bool Match(uint8_t c);
    void ResetMatch() {
        matchSlots.fill(0);
        matched = false;
    }
};

// Fills a trigger record for `text` (at most kMaxTriggerLength bytes, checked by the caller).
DataTrigger MakeDataTrigger(std::string_view text, bool ignoreCase, uint32_t handle);

// Upper case in the Western European ANSI code page (Windows-1252).
uint8_t AnsiUpper(uint8_t c);

}  // namespace swb808
