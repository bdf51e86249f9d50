#include "connection/board_identity.h"

#include "protocol/board_text.h"

namespace swb808 {

std::string IdentityKey(std::string_view rawText) {
    std::string key = AnsiToUtf8(rawText);  // drops the zero padding
    constexpr const char* kBlank = " \t\r\n";
    const size_t first = key.find_first_not_of(kBlank);
    if (first == std::string::npos) return {};
    return key.substr(first, key.find_last_not_of(kBlank) - first + 1);
}

}  // namespace swb808
