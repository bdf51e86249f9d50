#pragma once

// Texts that come from the board (firmware version, identification, the image's version) are
// 8-bit Windows-1252 characters.

#include <string>
#include <string_view>

namespace swb808 {

// Decodes Windows-1252 into UTF-8. 0x80..0x9F are that code page's own characters, not
// Latin-1's control codes; its five unassigned bytes pass through as U+0081 and so on, as
// Windows converts them. Zero bytes are left out: the board pads texts with them.
std::string AnsiToUtf8(std::string_view text);

// Encodes UTF-8 as Windows-1252, the way back for a text that went through JSON: every byte
// AnsiToUtf8 makes comes back as it was (its zero padding does not); a character the code
// page lacks, or a malformed sequence, becomes '?'.
std::string Utf8ToAnsi(std::string_view text);

}  // namespace swb808
