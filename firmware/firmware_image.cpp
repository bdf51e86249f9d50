#include "firmware/firmware_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace swb808 {

namespace {
std::string errorText(int err) {
    char buf[256];
    // GNU strerror_r: returns the text, which need not be in buf.
    return ::strerror_r(err, buf, sizeof buf);
}
}  // namespace

std::string OpenErrorText(const std::string& path, const std::string& systemError) {
    std::error_code ec;
    auto full = std::filesystem::absolute(path, ec);
    return "Datei " + (ec ? path : full.string()) + " kann nicht geöffnet werden. " + systemError;
}

std::string FindImageVersion(const TFirmwareImage& image) {
    const size_t markerLen = kVersionMarker.size();
    const size_t lastStart = kChecksumOffset + 1 - markerLen;  // window ends at byte 6142
    std::string version;
    for (size_t i = kVersionTextLength; i <= lastStart; ++i) {
        if (!std::equal(kVersionMarker.begin(), kVersionMarker.end(), image.begin() + i)) continue;
        for (size_t k = i - kVersionTextLength; k < i; ++k) {
            if (image[k] != 0) version += static_cast<char>(image[k]);
        }
        if (!version.empty()) break;
    }
    return version;
}

uint16_t ImageChecksum(const TFirmwareImage& image) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksumOffset; ++i) sum += image[i];
    return static_cast<uint16_t>(sum & 0xFFFF);
}

void WriteImageChecksum(TFirmwareImage& image) {
    const uint16_t s = ImageChecksum(image);
    image[kChecksumOffset] = static_cast<uint8_t>(s & 0xFF);
    image[kChecksumOffset + 1] = static_cast<uint8_t>(s >> 8);
}

TFirmwareFile::TFirmwareFile(const std::string& path) {
    // Never blocks: opening a named pipe without a writer (or a device) would otherwise hold
    // the window for good. Only a regular file is read, and for that blocking reads are right.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        openError_ = errorText(errno);
        loop_ = errno == ELOOP;
        return;
    }
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    if (regular_) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

TFirmwareFile::~TFirmwareFile() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFirmwareFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || !regular_ || ::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool TFirmwareFile::ReadImage(TFirmwareImage& image) {
    if (fd_ < 0) return false;
    TFirmwareImage incoming;
    size_t got = 0;
    while (got < incoming.size()) {
        const ssize_t n =
            ::pread(fd_, incoming.data() + got, incoming.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    image = incoming;
    return true;
}

TImageLoadResult LoadFirmwareImage(const std::string& path, TFirmwareImage& image) {
    TFirmwareFile file(path);
    // A loop of links names no file at all, let alone one of the right size.
    if (file.IsLinkLoop()) return {TImageLoadStatus::WrongSize, {}, {}};
    if (!file.IsOpen()) return {TImageLoadStatus::CannotOpen, {}, file.OpenError()};
    if (file.Size() != static_cast<int64_t>(kFirmwareImageSize))
        return {TImageLoadStatus::WrongSize, {}, {}};
    TFirmwareImage incoming;
    if (!file.ReadImage(incoming)) return {TImageLoadStatus::ShortRead, {}, {}};

    std::string version = FindImageVersion(incoming);
    WriteImageChecksum(incoming);
    image = incoming;
    return {version.empty() ? TImageLoadStatus::LoadedWithoutVersion : TImageLoadStatus::Loaded,
            std::move(version),
            {}};
}

std::string ImageLoadErrorText(const TImageLoadResult& result, const std::string& path) {
    switch (result.Status) {
        case TImageLoadStatus::CannotOpen:
            return OpenErrorText(path, result.SystemError);
        case TImageLoadStatus::WrongSize:
            return std::string(kWrongSizeText);
        case TImageLoadStatus::ShortRead:
            return std::string(kShortReadText);
        case TImageLoadStatus::Loaded:
        case TImageLoadStatus::LoadedWithoutVersion:
            break;
    }
    return {};
}

}  // namespace swb808
