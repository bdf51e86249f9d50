#include "protocol/frame_decode.h"

#include "protocol/board_facts.h"

namespace swb808 {

using board::kFrameEnd;
using board::kFrameStart;
using board::kMaxPayload;

uint32_t DecodeFrame(const TFrameBytes& frame, TFrameBytes& payload) {
    if (frame[0] != kFrameStart) return 0;
    if ((frame[1] & 0xF0) != 0xB0) return 0;
    if ((frame[2] & 0xF0) != 0xE0) return 0;
    int len = frame[2] & 0x0F;
    if (len == 0) len = kMaxPayload;

    // The high nibbles of the nibble bytes are not tested: they add multiples of 16 to the
    // sum and so cannot change the check nibble.
    unsigned sum = 0;
    for (int i = 0; i < len; ++i) {
        const uint8_t lo = frame[3 + 2 * i];
        const uint8_t hi = frame[4 + 2 * i];
        payload[i] = static_cast<uint8_t>((lo & 0x0F) | ((hi & 0x0F) << 4));
        sum += lo + hi;
    }
    if (frame[3 + 2 * len] != (0xA0 | (sum & 0x0F))) return 0;
    if (frame[4 + 2 * len] != kFrameEnd) return 0;
    return (static_cast<uint32_t>(len) << 16) | (frame[1] & 0x0Fu);
}

}  // namespace swb808
