// The version record of the swb808 executable. Only this executable links this file; the
// window reads the record back from /proc/self/exe at start.
#include "ui/version_record_format.h"

namespace {

using swb808::VersionEntry;

constexpr std::array kEntries{
    VersionEntry{swb808::kTranslationKey, std::string_view("\x07\x04\xE4\x04", 4)},
    VersionEntry{"\\StringFileInfo\\040704E4\\CompanyName", "SWB808 Control project"},
    VersionEntry{"\\StringFileInfo\\040704E4\\FileDescription", "SWB808 Konfigurations-Werkzeug"},
    VersionEntry{"\\StringFileInfo\\040704E4\\FileVersion", "1.0.0.7"},
    VersionEntry{"\\StringFileInfo\\040704E4\\InternalName", "SWB808-config"},
    VersionEntry{"\\StringFileInfo\\040704E4\\LegalCopyright",
                 "Copyright (C) the SWB808 Control project"},
    VersionEntry{"\\StringFileInfo\\040704E4\\LegalTrademarks", ""},
    VersionEntry{"\\StringFileInfo\\040704E4\\OriginalFilename", "swb808"},
    VersionEntry{"\\StringFileInfo\\040704E4\\ProductName", "SWB808-config"},
    VersionEntry{"\\StringFileInfo\\040704E4\\ProductVersion", "1.0.0.0"},
    VersionEntry{"\\StringFileInfo\\040704E4\\Comments", ""},
};

[[gnu::used, gnu::section(".swb808.version")]] constexpr auto kVersionRecord =
    swb808::BuildVersionRecord<swb808::VersionRecordSize(kEntries)>(kEntries);

}  // namespace
