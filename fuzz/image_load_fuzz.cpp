// Image file loader on arbitrary file contents: the size check, the image with its checksum,
// the version against a plain search, and the caller's image left alone on failure.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "firmware/firmware_image.h"
#include "fuzz/fuzz_check.h"

using namespace swb808;

namespace {

// The five bytes before the first marker that yields a character; zero bytes add nothing,
// and a marker with fewer than five bytes before it is passed over.
std::string referenceVersion(const uint8_t* image) {
    const std::string_view searched(reinterpret_cast<const char*>(image), kFirmwareImageSize - 1);
    for (size_t at = searched.find(kVersionMarker); at != std::string_view::npos;
         at = searched.find(kVersionMarker, at + 1)) {
        if (at < kVersionTextLength) continue;
        std::string text;
        for (char c : searched.substr(at - kVersionTextLength, kVersionTextLength))
            if (c != '\0') text += c;
        if (!text.empty()) return text;
    }
    return {};
}

int memoryFile() {
    static const int fd = [] {
        const int f = ::memfd_create("swb808-image-fuzz", MFD_CLOEXEC);
        FUZZ_CHECK(f >= 0);
        return f;
    }();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memoryFile();
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    auto image = std::make_unique<TFirmwareImage>();
    for (size_t i = 0; i < image->size(); ++i) (*image)[i] = static_cast<uint8_t>(i * 7 + 3);
    const TFirmwareImage before = *image;

    const TImageLoadResult r = LoadFirmwareImage(path, *image);

    if (size != kFirmwareImageSize) {
        FUZZ_CHECK(r.Status == TImageLoadStatus::WrongSize);
        FUZZ_CHECK(*image == before);
        return 0;
    }
    FUZZ_CHECK(r.Ok());
    FUZZ_CHECK(std::equal(data, data + kChecksumOffset, image->begin()));
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksumOffset; ++i) sum += data[i];
    FUZZ_CHECK((*image)[kChecksumOffset] == (sum & 0xFF));
    FUZZ_CHECK((*image)[kChecksumOffset + 1] == ((sum >> 8) & 0xFF));

    const std::string want = referenceVersion(data);
    FUZZ_CHECK(r.Version == want);
    FUZZ_CHECK(r.Version.size() <= kVersionTextLength);
    FUZZ_CHECK(r.Version.find('\0') == std::string::npos);
    FUZZ_CHECK((r.Status == TImageLoadStatus::Loaded) == !want.empty());

    // The search alone, on an image of its exact size on the heap: a read before its start
    // or past its end shows under a sanitizer.
    auto exact = std::make_unique<TFirmwareImage>();
    std::copy_n(data, kFirmwareImageSize, exact->begin());
    FUZZ_CHECK(FindImageVersion(*exact) == want);
    return 0;
}
