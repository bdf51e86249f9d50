#include "ui/version_info.h"

#include <elf.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "ui/version_record_format.h"

namespace swb808 {

namespace {

// A record is a few hundred bytes; anything far larger is not ours.
constexpr uint64_t kMaxRecordSize = 64 * 1024;

class File {
  public:
    explicit File(const std::string& name) : in_(name, std::ios::binary) {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = uint64_t(in_.tellg());
        }
    }
    bool Read(uint64_t offset, void* out, uint64_t n) {
        if (!in_ || offset > size_ || n > size_ - offset) return false;
        in_.seekg(std::streamoff(offset));
        in_.read(static_cast<char*>(out), std::streamsize(n));
        return bool(in_);
    }

  private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

struct Section {
    uint32_t name;
    uint32_t type;
    uint64_t offset;
    uint64_t size;
    uint32_t link;
};

template <typename Ehdr, typename Shdr>
std::optional<std::vector<char>> FindSection(File& file, std::string_view wanted) {
    Ehdr eh;
    if (!file.Read(0, &eh, sizeof eh) || eh.e_shentsize != sizeof(Shdr) || eh.e_shoff == 0)
        return std::nullopt;
    auto header = [&](uint64_t index) -> std::optional<Section> {
        Shdr sh;
        if (!file.Read(eh.e_shoff + index * sizeof(Shdr), &sh, sizeof sh)) return std::nullopt;
        return Section{sh.sh_name, sh.sh_type, sh.sh_offset, sh.sh_size, sh.sh_link};
    };
    // Many sections: the true count and string-table index sit in section 0.
    uint64_t count = eh.e_shnum;
    uint64_t strIndex = eh.e_shstrndx;
    if (count == 0 || strIndex == SHN_XINDEX) {
        const auto first = header(0);
        if (!first) return std::nullopt;
        if (count == 0) count = first->size;
        if (strIndex == SHN_XINDEX) strIndex = first->link;
    }
    if (count > 0x10000 || strIndex >= count) return std::nullopt;
    const auto strtab = header(strIndex);
    if (!strtab || strtab->type == SHT_NOBITS || strtab->size > (1u << 20)) return std::nullopt;
    std::vector<char> names(strtab->size);
    if (!file.Read(strtab->offset, names.data(), names.size())) return std::nullopt;

    for (uint64_t i = 1; i < count; ++i) {
        const auto sh = header(i);
        if (!sh) return std::nullopt;
        if (sh->name >= names.size()) continue;
        const char* begin = names.data() + sh->name;
        const auto* end = static_cast<const char*>(std::memchr(begin, 0, names.size() - sh->name));
        if (!end || std::string_view(begin, std::size_t(end - begin)) != wanted) continue;
        if (sh->type == SHT_NOBITS || sh->size > kMaxRecordSize) return std::nullopt;
        std::vector<char> data(sh->size);
        if (!file.Read(sh->offset, data.data(), data.size())) return std::nullopt;
        return data;
    }
    return std::nullopt;
}

std::string Trim(std::string_view s) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

unsigned Le16(const char* p) {
    return unsigned(static_cast<unsigned char>(p[0])) | unsigned(static_cast<unsigned char>(p[1]))
                                                            << 8;
}

}  // namespace

std::optional<std::vector<char>> ReadElfSection(const std::string& fileName,
                                                std::string_view sectionName) {
    File file(fileName);
    unsigned char ident[EI_NIDENT];
    if (!file.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return std::nullopt;
    constexpr unsigned char native =
        std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != native) return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64)
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(file, sectionName);
    if (ident[EI_CLASS] == ELFCLASS32)
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(file, sectionName);
    return std::nullopt;
}

std::optional<std::string_view> QueryVersionValue(const std::vector<char>& record,
                                                  std::string_view key) {
    const std::string_view all(record.data(), record.size());
    if (!all.starts_with(kVersionRecordMagic)) return std::nullopt;
    std::size_t at = kVersionRecordMagic.size();
    auto field = [&]() -> std::optional<std::string_view> {
        if (all.size() - at < 2) return std::nullopt;
        const std::size_t n = Le16(all.data() + at);
        at += 2;
        if (all.size() - at < n) return std::nullopt;
        const auto s = all.substr(at, n);
        at += n;
        return s;
    };
    while (true) {
        const auto k = field();
        if (!k || k->empty()) return std::nullopt;
        const auto v = field();
        if (!v) return std::nullopt;
        if (*k == key) return v;
    }
}

bool ReadVersionInfo(const std::string& fileName, std::string& internalName,
                     std::string& fileVersion) {
    // The buffer is a vector: released on every path out of here.
    const auto record = ReadElfSection(fileName, kVersionSectionName);
    if (!record || record->empty()) return false;
    const auto translation = QueryVersionValue(*record, kTranslationKey);
    if (!translation || translation->size() < 4) return false;
    const unsigned language = Le16(translation->data());
    const unsigned codePage = Le16(translation->data() + 2);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", language, codePage);
    internalName = Trim(QueryVersionValue(*record, std::string(prefix) + "InternalName")
                            .value_or(std::string_view()));
    fileVersion = Trim(QueryVersionValue(*record, std::string(prefix) + "FileVersion")
                           .value_or(std::string_view()));
    return !internalName.empty() && !fileVersion.empty();
}

}  // namespace swb808
