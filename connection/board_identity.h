#pragma once

// Which board answered, and where. The key is the board's identification text, normalised so
// that it is the same at every read of the same board: a board answering with another key on
// a known port is another board, never the old one.

#include <cstdint>
#include <string>
#include <string_view>

#include "connection/port_ref.h"

namespace swb808 {

struct BoardIdentity {
    std::string key;   // IdentityKey(text): UTF-8, trimmed of blank and zero padding
    std::string text;  // the identification text as the board sent it (8-bit, zeros kept)
    PortRef port;      // where it was found
    int32_t baud = 0;  // the rate it answered at

    // Same board: the keys compare; port and rate may have changed.
    bool SameBoard(const BoardIdentity& other) const { return key == other.key; }
};

// The identification text as a key: decoded to UTF-8, zero bytes dropped, blanks at either
// end trimmed. An empty key means the board sent no identification.
std::string IdentityKey(std::string_view rawText);

}  // namespace swb808
