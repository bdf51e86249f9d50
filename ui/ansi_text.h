#pragma once

// The board's 8-bit Windows-1252 texts for display (AnsiToUtf8 in protocol/board_text.h).

#include <QString>
#include <string_view>

namespace swb808 {

QString AnsiToQString(std::string_view text);

}  // namespace swb808
