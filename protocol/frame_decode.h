#pragma once

// Decoding of one received frame, apart from the port so that it can be checked on its own.

#include <array>
#include <cstdint>

namespace swb808 {

inline constexpr int kFrameBufferSize = 256;
using TFrameBytes = std::array<uint8_t, kFrameBufferSize>;

// Checks that `frame` holds a frame from its first byte on and decodes its payload into
// `payload`. Returns (length << 16) | reply code, or 0 when the start, command or length byte
// is wrong (payload untouched) or the check or end byte is wrong (payload[0..len-1] holds the
// decoded bytes all the same). Only payload[0..len-1] is written; the caller clears the rest.
uint32_t DecodeFrame(const TFrameBytes& frame, TFrameBytes& payload);

}  // namespace swb808
