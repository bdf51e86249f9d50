#include "firmware/firmware_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/support/watchdog.h"

namespace swb808 {
namespace {

namespace fs = std::filesystem;

class FirmwareImageFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/swb808-fw-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_.fill(0xAB);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::vector<uint8_t>& bytes, const std::string& name = "fw.bin") {
        const auto path = (dir_ / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static std::vector<uint8_t> image(uint8_t fill = 0) {
        return std::vector<uint8_t>(kFirmwareImageSize, fill);
    }
    static void put(std::vector<uint8_t>& img, size_t at, std::string_view text) {
        std::copy(text.begin(), text.end(), img.begin() + static_cast<long>(at));
    }

    fs::path dir_;
    TFirmwareImage previous_{};  // what "Flash" would send before this load
};

TEST_F(FirmwareImageFile, VersionSearchCases) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, std::string>> puts;
        std::string version;
    };
    const std::string m(kVersionMarker);
    const std::vector<Case> cases = {
        {"before marker at 100", {{95, "1.05a"}, {100, m}}, "1.05a"},
        {"last window, ends at 6142", {{6127, "9.99z"}, {6132, m}}, "9.99z"},
        {"window past 6142 is not looked at", {{6128, "9.99z"}, {6133, m}}, ""},
        {"zero predecessors pass a marker over", {{20, m}, {200, "2.00 "}, {205, m}}, "2.00 "},
        {"zero bytes add nothing",
         {{95, std::string("1.0\0"
                           "7",
                           5)},
          {100, m}},
         "1.07"},
        {"first usable marker wins", {{10, "A"}, {11, m}, {95, "1.05a"}, {100, m}}, "A"},
        {"marker at 0 is passed over", {{0, m}, {95, "1.05a"}, {100, m}}, "1.05a"},
        // The five bytes before a marker at 3 would start before the image: passed over
        // even though bytes 0..2 are set.
        {"marker at 3 is passed over", {{0, "abc"}, {3, m}}, ""},
        {"marker at 5 takes bytes 0..4", {{0, "abcde"}, {5, m}}, "abcde"},
        {"case-sensitive", {{95, "1.05a"}, {100, "wxyzversion"}}, ""},
    };
    for (const auto& c : cases) {
        auto bytes = image();
        for (const auto& [at, text] : c.puts) put(bytes, at, text);
        TFirmwareImage img = previous_;
        const auto r = LoadFirmwareImage(write(bytes), img);
        EXPECT_TRUE(r.Ok()) << c.name;
        EXPECT_EQ(r.Version, c.version) << c.name;
        EXPECT_EQ(r.Status, c.version.empty() ? TImageLoadStatus::LoadedWithoutVersion
                                              : TImageLoadStatus::Loaded)
            << c.name;
    }
}

TEST_F(FirmwareImageFile, ChecksumReplacesTheLastTwoBytes) {
    struct Case {
        uint8_t fill;
        uint8_t low, high;
    } cases[] = {{0xFF, 0x02, 0xE6}, {0x00, 0x00, 0x00}};
    for (const auto& c : cases) {
        auto bytes = image(c.fill);
        TFirmwareImage img = previous_;
        ASSERT_EQ(LoadFirmwareImage(write(bytes), img).Status,
                  TImageLoadStatus::LoadedWithoutVersion);
        EXPECT_EQ(img[6142], c.low);
        EXPECT_EQ(img[6143], c.high);
        EXPECT_TRUE(std::equal(img.begin(), img.begin() + 6142, bytes.begin()));
    }
}

TEST_F(FirmwareImageFile, MarkerInTheChecksumByteIsFoundBeforeTheChecksumIsWritten) {
    auto bytes = image();
    put(bytes, 6127, "1.05a");
    put(bytes, 6132, kVersionMarker);  // its 'N' sits at 6142
    TFirmwareImage img = previous_;
    const auto r = LoadFirmwareImage(write(bytes), img);
    EXPECT_EQ(r.Version, "1.05a");
    EXPECT_EQ(ImageChecksum(img), img[6142] | (img[6143] << 8));
}

TEST_F(FirmwareImageFile, WrongSizesLeaveTheImageAlone) {
    for (size_t size : {size_t{0}, size_t{6143}, size_t{6145}}) {
        TFirmwareImage img = previous_;
        const auto path = write(std::vector<uint8_t>(size, 0x11));
        const auto r = LoadFirmwareImage(path, img);
        EXPECT_EQ(r.Status, TImageLoadStatus::WrongSize) << size;
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(img, previous_) << size;
        EXPECT_EQ(ImageLoadErrorText(r, path), "Dies ist keine gültige Firmware-Datei, Abbruch!");
    }
}

// Nothing but a regular file can be an image, and none of these may block the open: a pipe
// nobody writes to, a directory, a device, a loop of links.
TEST_F(FirmwareImageFile, WhatIsNoRegularFileIsTheWrongSizeAtOnce) {
    testing::Watchdog watchdog(std::chrono::seconds(20));  // a blocking open would hang here
    const auto fifo = (dir_ / "pipe.bin").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto directory = (dir_ / "folder.bin").string();
    fs::create_directory(directory);
    const auto loop = (dir_ / "loop.bin").string();
    fs::create_symlink(loop, loop);
    for (const std::string& path : {fifo, directory, std::string("/dev/null"), loop}) {
        SCOPED_TRACE(path);
        TFirmwareImage img = previous_;
        const auto started = std::chrono::steady_clock::now();
        const auto r = LoadFirmwareImage(path, img);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(r.Status, TImageLoadStatus::WrongSize);
        EXPECT_EQ(ImageLoadErrorText(r, path), "Dies ist keine gültige Firmware-Datei, Abbruch!");
        EXPECT_EQ(img, previous_);
    }
    // A regular file reached through a link is still read, with blocking reads.
    const auto good = write(image(0x01));
    const auto link = (dir_ / "link.bin").string();
    fs::create_symlink(good, link);
    TFirmwareImage img = previous_;
    EXPECT_TRUE(LoadFirmwareImage(link, img).Ok());
    EXPECT_EQ(img[0], 0x01);
}

TEST_F(FirmwareImageFile, SizeIsComparedInSixtyFourBits) {
    // 4 GiB + 6144 bytes, sparse: its low 32 bits would pass a narrow comparison.
    const auto path = (dir_ / "big.bin").string();
    { std::ofstream(path, std::ios::binary); }
    ASSERT_EQ(::truncate(path.c_str(), (int64_t{1} << 32) + 6144), 0);
    TFirmwareImage img = previous_;
    EXPECT_EQ(LoadFirmwareImage(path, img).Status, TImageLoadStatus::WrongSize);
    EXPECT_EQ(img, previous_);
}

TEST_F(FirmwareImageFile, FileThatShrinksAfterTheSizeCheckIsAShortRead) {
    const auto path = write(image(0x22));
    TFirmwareFile file(path);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_EQ(file.Size(), 6144);
    // Another program rewrites the file between our size check and our read.
    ASSERT_EQ(::truncate(path.c_str(), 4000), 0);
    TFirmwareImage img = previous_;
    EXPECT_FALSE(file.ReadImage(img));
    EXPECT_EQ(img, previous_);

    const TImageLoadResult r{TImageLoadStatus::ShortRead, {}, {}};
    EXPECT_EQ(ImageLoadErrorText(r, path), "Kann Firmware-Datei nicht vollständig lesen, Abbruch!");
}

TEST_F(FirmwareImageFile, UnopenableFileCarriesTheSystemText) {
    const auto path = (dir_ / "missing.bin").string();
    TFirmwareImage img = previous_;
    const auto r = LoadFirmwareImage(path, img);
    EXPECT_EQ(r.Status, TImageLoadStatus::CannotOpen);
    EXPECT_EQ(r.SystemError, std::string(std::strerror(ENOENT)));
    EXPECT_EQ(img, previous_);
    EXPECT_EQ(ImageLoadErrorText(r, path),
              "Datei " + path + " kann nicht geöffnet werden. " + std::strerror(ENOENT));
}

TEST_F(FirmwareImageFile, RelativeNameIsShownExpanded) {
    const auto here = fs::current_path();
    fs::current_path(dir_);
    const auto text = OpenErrorText("nope.bin", "x");
    fs::current_path(here);
    EXPECT_EQ(text, "Datei " + (dir_ / "nope.bin").string() + " kann nicht geöffnet werden. x");
}

}  // namespace
}  // namespace swb808
