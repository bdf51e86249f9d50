#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace swb808 {

// The executable's version record, kept in an ELF section of its own so that the program can
// read it back from its file. Layout: the magic, then entries of (key length, key, value
// length, value) with 16-bit little-endian lengths, then a key length of 0. Keys are query
// paths as on the record's original platform: "\VarFileInfo\Translation" holds the 32-bit
// language/code page pair, "\StringFileInfo\040704E4\InternalName" a string.

inline constexpr std::string_view kVersionSectionName = ".swb808.version";
inline constexpr std::string_view kVersionRecordMagic = "SWB8VREC";
inline constexpr std::string_view kTranslationKey = "\\VarFileInfo\\Translation";

struct VersionEntry {
    std::string_view key;
    std::string_view value;
};

template <std::size_t N>
constexpr std::size_t VersionRecordSize(const std::array<VersionEntry, N>& entries) {
    std::size_t size = kVersionRecordMagic.size() + 2;
    for (const auto& e : entries) size += 4 + e.key.size() + e.value.size();
    return size;
}

template <std::size_t Size, std::size_t N>
constexpr std::array<char, Size> BuildVersionRecord(const std::array<VersionEntry, N>& entries) {
    std::array<char, Size> out{};
    std::size_t at = 0;
    auto put = [&](std::string_view s) {
        for (char c : s) out[at++] = c;
    };
    auto length = [&](std::size_t n) {
        out[at++] = char(n & 0xFF);
        out[at++] = char(n >> 8 & 0xFF);
    };
    put(kVersionRecordMagic);
    for (const auto& e : entries) {
        length(e.key.size());
        put(e.key);
        length(e.value.size());
        put(e.value);
    }
    length(0);
    return out;
}

}  // namespace swb808
