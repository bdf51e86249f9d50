#pragma once

// The board's side of the framed protocol: building reply frames and picking command frames
// out of whatever arrives on the line.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace swb808::sim {

inline constexpr uint8_t kFrameStart = 0xC1;
inline constexpr uint8_t kFrameEnd = 0xDF;

struct Frame {
    uint8_t command = 0;
    std::vector<uint8_t> payload;
};

// C1, code, E0|len (0 = 16), low/high nibble per byte as 0x50|n, A0|(sum & 0xF), DF.
// `payload` must hold 1 to 16 bytes.
std::vector<uint8_t> EncodeFrame(uint8_t code, const std::vector<uint8_t>& payload);

// Byte-wise frame hunter: a start byte always begins a new frame (it cannot occur inside one),
// and anything that does not fit the format is dropped.
class FrameParser {
  public:
    std::optional<Frame> Feed(uint8_t byte);
    void Reset();
    // Bytes thrown away so far (partial or malformed frames, junk between frames).
    size_t Dropped() const { return dropped_; }

  private:
    enum class State { Hunt, Command, Length, Body };
    void Drop();
    size_t Pending() const;

    State state_ = State::Hunt;
    uint8_t command_ = 0;
    size_t length_ = 0;
    std::vector<uint8_t> body_;
    size_t dropped_ = 0;
};

}  // namespace swb808::sim
