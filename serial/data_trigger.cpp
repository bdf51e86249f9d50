#include "serial/data_trigger.h"

#include <algorithm>

namespace swb808 {

uint8_t AnsiUpper(uint8_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<uint8_t>(c - 0x20);
    switch (c) {
        case 0x9A:
            return 0x8A;
        case 0x9C:
            return 0x8C;
        case 0x9E:
            return 0x8E;
        case 0xFF:
            return 0x9F;
        default:
            return c;
    }
}

DataTrigger MakeDataTrigger(std::string_view text, bool ignoreCase, uint32_t handle) {
    DataTrigger t;
    t.handle = handle;
    t.ignoreCase = ignoreCase;
    t.length = static_cast<int32_t>(std::min<size_t>(text.size(), kMaxTriggerLength));
    for (int32_t i = 0; i < t.length; ++i) {
        const auto b = static_cast<uint8_t>(text[static_cast<size_t>(i)]);
        t.bytes[static_cast<size_t>(i)] = ignoreCase ? AnsiUpper(b) : b;
    }
    return t;
}

// Each slot follows one candidate alignment. A new candidate takes the first free slot only,
// so one byte starts at most one candidate; a completed string drops all candidates.
bool DataTrigger::Match(uint8_t c) {
    if (ignoreCase) c = AnsiUpper(c);
    const int32_t n = length;
    const uint8_t first = bytes[0];
    bool restart = false;
    bool active = true;
    bool result = false;
    int32_t startedHere = -1;  // slot of a candidate that begins with this very byte
    for (int32_t i = 0; i < n; ++i) {
        auto& slot = matchSlots[static_cast<size_t>(i)];
        if (active) {
            const int32_t p = slot;
            if (bytes[static_cast<size_t>(p)] == c) {
                if (p == n - 1) {
                    result = true;
                    matchSlots.fill(0);
                    // A candidate that begins with the completing byte is not a partial one of
                    // the matched string; it survives whichever slot it sits in.
                    if (startedHere >= 0) matchSlots[static_cast<size_t>(startedHere)] = 1;
                } else {
                    slot = p + 1;
                    if (p == 0) startedHere = i;
                }
            } else if (first == c && !restart) {
                // Restarts in place unless this byte already started a candidate in another
                // slot: a second copy of it would take a slot that a later start needs.
                restart = true;
                slot = 1;
                startedHere = i;
            } else {
                slot = 0;
            }
        }
        if (slot == 1) restart = true;
        if (i == n - 1) break;
        const int32_t next = matchSlots[static_cast<size_t>(i) + 1];
        active = restart ? next != 0 : (next != 0 || first == c);
    }
    return result;
}

}  // namespace swb808
