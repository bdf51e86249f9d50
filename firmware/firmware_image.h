#pragma once

// The firmware image file: loading and checking it, the version it carries and the checksum
// the board expects in its last two bytes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/board_facts.h"

namespace swb808 {

inline constexpr size_t kFirmwareImageSize = board::kImageSize;
using TFirmwareImage = std::array<uint8_t, kFirmwareImageSize>;

// "WXYZVERSION", preceded in the image by the five characters of the version text.
inline constexpr std::string_view kVersionMarker = "WXYZVERSION";
inline constexpr size_t kVersionTextLength = 5;
// The checksum covers bytes 0..6141 and is stored at 6142 (low) and 6143 (high).
inline constexpr size_t kChecksumOffset = kFirmwareImageSize - 2;

inline constexpr std::string_view kWrongSizeText =
    "Dies ist keine gültige Firmware-Datei, Abbruch!";
inline constexpr std::string_view kShortReadText =
    "Kann Firmware-Datei nicht vollständig lesen, Abbruch!";
inline constexpr std::string_view kNoVersionText =
    "Kann neue Version nicht ermitteln, Datei prüfen!";

// The message for a file that cannot be opened: "Datei <absolute path> kann nicht geöffnet
// werden. <system error text>".
std::string OpenErrorText(const std::string& path, const std::string& systemError);

// The version text of an image, searched on the bytes as read (before the checksum replaces
// the last two): the five bytes before the first marker at offsets 0..6132 that yields any
// character. Zero bytes add nothing. A marker at offsets 0..4 has no room for its five bytes
// before the image start and is passed over. Raw 8-bit characters; empty when none found.
std::string FindImageVersion(const TFirmwareImage& image);

// Sum of bytes 0..6141 modulo 65536.
uint16_t ImageChecksum(const TFirmwareImage& image);
// Stores ImageChecksum at 6142 (low byte) and 6143 (high byte).
void WriteImageChecksum(TFirmwareImage& image);

// An image file opened for reading; closed by the destructor.
class TFirmwareFile {
  public:
    explicit TFirmwareFile(const std::string& path);
    ~TFirmwareFile();
    TFirmwareFile(const TFirmwareFile&) = delete;
    TFirmwareFile& operator=(const TFirmwareFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The system's text for why the open failed.
    const std::string& OpenError() const { return openError_; }
    // The file's size now, -1 if it cannot be had.
    int64_t Size() const;
    // Reads the image from the start of the file into a buffer of its own; `image` is
    // replaced only when all 6144 bytes were read. False on a short read or a read error.
    bool ReadImage(TFirmwareImage& image);

  private:
    int fd_ = -1;
    std::string openError_;
};

enum class TImageLoadStatus {
    Loaded,                // image replaced, version found
    LoadedWithoutVersion,  // image replaced, no version in it
    CannotOpen,            // SystemError holds the reason
    WrongSize,             // not exactly 6144 bytes; nothing read
    ShortRead,             // fewer than 6144 bytes could be read
};

struct TImageLoadResult {
    TImageLoadStatus Status;
    std::string Version;      // raw 8-bit characters, when Loaded
    std::string SystemError;  // when CannotOpen

    bool Ok() const {
        return Status == TImageLoadStatus::Loaded ||
               Status == TImageLoadStatus::LoadedWithoutVersion;
    }
};

// Loads an image file: exact size check, complete read, version search, checksum. `image` is
// replaced (with the checksum in place) only when the whole file was read, so a failed load
// never leaves a half-new image to be flashed.
TImageLoadResult LoadFirmwareImage(const std::string& path, TFirmwareImage& image);

// The message a failed load shows; empty for a successful one (its missing version is a
// warning the caller decides on: kNoVersionText).
std::string ImageLoadErrorText(const TImageLoadResult& result, const std::string& path);

}  // namespace swb808
