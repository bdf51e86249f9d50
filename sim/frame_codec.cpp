#include "sim/frame_codec.h"

namespace swb808::sim {

std::vector<uint8_t> EncodeFrame(uint8_t code, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    out.reserve(payload.size() * 2 + 5);
    out.push_back(kFrameStart);
    out.push_back(code);
    out.push_back(static_cast<uint8_t>(0xE0 | (payload.size() & 0x0F)));
    unsigned sum = 0;
    for (uint8_t b : payload) {
        uint8_t lo = static_cast<uint8_t>(0x50 | (b & 0x0F));
        uint8_t hi = static_cast<uint8_t>(0x50 | (b >> 4));
        out.push_back(lo);
        out.push_back(hi);
        sum += lo + hi;
    }
    out.push_back(static_cast<uint8_t>(0xA0 | (sum & 0x0F)));
    out.push_back(kFrameEnd);
    return out;
}

void FrameParser::Reset() {
    state_ = State::Hunt;
    body_.clear();
}

// Drops the partial frame together with the byte that broke it.
void FrameParser::Drop() {
    dropped_ += Pending() + 1;
    Reset();
}

size_t FrameParser::Pending() const {
    switch (state_) {
        case State::Hunt:
            return 0;
        case State::Command:
            return 1;
        case State::Length:
            return 2;
        case State::Body:
            return 3 + body_.size();
    }
    return 0;
}

std::optional<Frame> FrameParser::Feed(uint8_t byte) {
    if (byte == kFrameStart) {
        dropped_ += Pending();
        body_.clear();
        state_ = State::Command;
        return std::nullopt;
    }
    switch (state_) {
        case State::Hunt:
            // The scan's wake byte is expected between frames; anything else is junk.
            if (byte != kFrameEnd) ++dropped_;
            return std::nullopt;
        case State::Command:
            if ((byte & 0xF0) != 0xB0) {
                Drop();
                return std::nullopt;
            }
            command_ = byte;
            state_ = State::Length;
            return std::nullopt;
        case State::Length:
            if ((byte & 0xF0) != 0xE0) {
                Drop();
                return std::nullopt;
            }
            length_ = (byte & 0x0F) == 0 ? 16 : (byte & 0x0F);
            body_.clear();
            state_ = State::Body;
            return std::nullopt;
        case State::Body:
            break;
    }
    const size_t nibbles = 2 * length_;
    if (body_.size() < nibbles) {
        if ((byte & 0xF0) != 0x50) {
            Drop();
            return std::nullopt;
        }
        body_.push_back(byte);
        return std::nullopt;
    }
    if (body_.size() == nibbles) {
        unsigned sum = 0;
        for (uint8_t b : body_) sum += b;
        if (byte != (0xA0 | (sum & 0x0F))) {
            Drop();
            return std::nullopt;
        }
        body_.push_back(byte);
        return std::nullopt;
    }
    if (byte != kFrameEnd) {
        Drop();
        return std::nullopt;
    }
    Frame f;
    f.command = command_;
    for (size_t i = 0; i < length_; ++i)
        f.payload.push_back(
            static_cast<uint8_t>((body_[2 * i] & 0x0F) | ((body_[2 * i + 1] & 0x0F) << 4)));
    Reset();
    return f;
}

}  // namespace swb808::sim
