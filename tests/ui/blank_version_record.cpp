// This test binary's own version record: InternalName padded with blanks, FileVersion blank.
// The window shown in the tests must keep its creation-time captions.
#include "ui/version_record_format.h"

namespace {

using swb808::VersionEntry;

constexpr std::array kEntries{
    VersionEntry{swb808::kTranslationKey, std::string_view("\x07\x04\xE4\x04", 4)},
    VersionEntry{"\\StringFileInfo\\040704E4\\InternalName", " \tSWB808-config \n"},
    VersionEntry{"\\StringFileInfo\\040704E4\\FileVersion", "   "},
};

[[gnu::used, gnu::section(".swb808.version")]] constexpr auto kVersionRecord =
    swb808::BuildVersionRecord<swb808::VersionRecordSize(kEntries)>(kEntries);

}  // namespace
