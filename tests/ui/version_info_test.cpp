#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>

#include "ui/version_info.h"
#include "ui/version_record_format.h"

namespace swb808 {
namespace {

std::vector<char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(VersionInfo, TheProgramCarriesItsRecord) {
    std::string internalName, fileVersion;
    ASSERT_TRUE(ReadVersionInfo(SWB808_EXECUTABLE, internalName, fileVersion));
    EXPECT_EQ(internalName, "SWB808-config");
    EXPECT_EQ(fileVersion, "1.0.0.7");

    const auto record = ReadElfSection(SWB808_EXECUTABLE, kVersionSectionName);
    ASSERT_TRUE(record);
    auto value = [&](const char* key) {
        return std::string(
            QueryVersionValue(*record, std::string("\\StringFileInfo\\040704E4\\") + key)
                .value_or("<absent>"));
    };
    EXPECT_EQ(value("FileDescription"), "SWB808 Konfigurations-Werkzeug");
    EXPECT_EQ(value("ProductName"), "SWB808-config");
    EXPECT_EQ(value("ProductVersion"), "1.0.0.0");
    EXPECT_EQ(value("OriginalFilename"), "swb808");
    EXPECT_EQ(value("LegalTrademarks"), "");
    EXPECT_EQ(value("Comments"), "");
    EXPECT_EQ(std::string(*QueryVersionValue(*record, kTranslationKey)), "\x07\x04\xE4\x04");
}

TEST(VersionInfo, BlankEntriesAreTrimmedAndFail) {
    std::string internalName, fileVersion;
    EXPECT_FALSE(ReadVersionInfo("/proc/self/exe", internalName, fileVersion));
    EXPECT_EQ(internalName, "SWB808-config");
    EXPECT_EQ(fileVersion, "");
}

TEST(VersionInfo, FilesWithoutAUsableRecordLeaveTheOutputsAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<char> program = Bytes(SWB808_EXECUTABLE);
    ASSERT_GT(program.size(), 4096u);
    auto write = [&](const char* name, std::vector<char> bytes) {
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    };
    std::vector<char> wildOffsets(program);
    // Section headers said to lie far beyond the end of the file.
    for (int i = 0; i < 8; ++i) wildOffsets[0x28 + i] = char(0x7F);
    std::vector<char> noStrings(program);
    noStrings[0x3E] = char(0xFF), noStrings[0x3F] = char(0x7F);  // e_shstrndx out of range

    const std::string cases[] = {
        dir.filePath(QStringLiteral("missing")).toStdString(),
        write("empty", {}),
        write("text", std::vector<char>(200, 'x')),
        write("header-only", std::vector<char>(program.begin(), program.begin() + 64)),
        write("truncated", std::vector<char>(program.begin(), program.end() - 4096)),
        write("wild-offsets", wildOffsets),
        write("no-strings", noStrings),
        dir.path().toStdString(),
    };
    for (const auto& path : cases) {
        std::string internalName = "in", fileVersion = "fv";
        EXPECT_FALSE(ReadVersionInfo(path, internalName, fileVersion)) << path;
        EXPECT_EQ(internalName, "in") << path;
        EXPECT_EQ(fileVersion, "fv") << path;
    }
}

TEST(VersionInfo, MalformedRecordsAnswerNothing) {
    auto record = [](std::string_view s) { return std::vector<char>(s.begin(), s.end()); };
    const std::string_view key = "\\k";
    EXPECT_FALSE(QueryVersionValue(record("XXXXXXXX"), key));
    EXPECT_FALSE(QueryVersionValue(record("SWB8VREC"), key));
    EXPECT_FALSE(
        QueryVersionValue(record(std::string_view("SWB8VREC\x02\x00\\k\x09\x00v", 15)), key));
    EXPECT_EQ(*QueryVersionValue(record(std::string_view("SWB8VREC\x02\x00\\k\x01\x00v", 15)), key),
              "v");
}

}  // namespace
}  // namespace swb808
