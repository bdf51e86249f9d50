#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swb808 {

// Reads InternalName and FileVersion from the version record of an executable file. True
// when both are non-empty after trimming; a file without a record leaves both as passed.
bool ReadVersionInfo(const std::string& fileName, std::string& internalName,
                     std::string& fileVersion);

// The contents of a named section of an ELF file; nullopt when the file cannot be read, is
// not a well-formed ELF file of this machine's byte order, or lacks the section.
std::optional<std::vector<char>> ReadElfSection(const std::string& fileName,
                                                std::string_view sectionName);

// The value stored under `key` in a version record; nullopt when it is absent or the record
// is malformed.
std::optional<std::string_view> QueryVersionValue(const std::vector<char>& record,
                                                  std::string_view key);

}  // namespace swb808
