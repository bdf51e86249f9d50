// Frame decoder: any 256 bytes either give 0 or a result whose payload re-encodes to the
// frame that was read.

#include <algorithm>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "protocol/frame_decode.h"

using namespace swb808;

namespace {

constexpr uint8_t kUntouched = 0xEE;

// The frame rules, written out independently of the codec.
size_t encode(uint8_t command, const uint8_t* payload, int len, uint8_t* out) {
    out[0] = 0xC1;
    out[1] = command;
    out[2] = static_cast<uint8_t>(0xE0 | (len & 0x0F));
    unsigned sum = 0;
    for (int i = 0; i < len; ++i) {
        out[3 + 2 * i] = static_cast<uint8_t>(0x50 | (payload[i] & 0x0F));
        out[4 + 2 * i] = static_cast<uint8_t>(0x50 | (payload[i] >> 4));
        sum += out[3 + 2 * i] + out[4 + 2 * i];
    }
    out[3 + 2 * len] = static_cast<uint8_t>(0xA0 | (sum & 0x0F));
    out[4 + 2 * len] = 0xDF;
    return static_cast<size_t>(2 * len + 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // On the heap at their exact size, so that a sanitizer sees any access beyond 256 bytes.
    auto frame = std::make_unique<TFrameBytes>();
    auto payload = std::make_unique<TFrameBytes>();
    frame->fill(0);  // a receive clears the buffer before reading into it
    std::copy_n(data, std::min(size, frame->size()), frame->begin());
    payload->fill(kUntouched);
    const TFrameBytes& f = *frame;

    const uint32_t r = DecodeFrame(f, *payload);

    const bool header = f[0] == 0xC1 && (f[1] & 0xF0) == 0xB0 && (f[2] & 0xF0) == 0xE0;
    if (!header) {
        FUZZ_CHECK(r == 0);
        FUZZ_CHECK(std::all_of(payload->begin(), payload->end(),
                               [](uint8_t b) { return b == kUntouched; }));
        return 0;
    }

    const int len = (f[2] & 0x0F) == 0 ? 16 : f[2] & 0x0F;
    // Decoded whatever the check and end bytes say; nothing beyond len written.
    for (int i = 0; i < len; ++i)
        FUZZ_CHECK((*payload)[i] == ((f[3 + 2 * i] & 0x0F) | ((f[4 + 2 * i] & 0x0F) << 4)));
    FUZZ_CHECK(std::all_of(payload->begin() + len, payload->end(),
                           [](uint8_t b) { return b == kUntouched; }));

    uint8_t again[kFrameBufferSize] = {};
    const size_t n =
        encode(static_cast<uint8_t>(0xB0 | (f[1] & 0x0F)), payload->data(), len, again);
    const bool checkOk = f[3 + 2 * len] == again[3 + 2 * len];
    const bool endOk = f[4 + 2 * len] == 0xDF;
    FUZZ_CHECK((r != 0) == (checkOk && endOk));
    if (r == 0) return 0;

    FUZZ_CHECK((r & ~0x001F000Fu) == 0);
    FUZZ_CHECK((r >> 16) == static_cast<uint32_t>(len) && len >= 1 && len <= 16);
    FUZZ_CHECK((r & 0x0F) == (f[1] & 0x0Fu));
    // Re-encoding gives the frame back, up to the untested high nibbles of nibble bytes.
    for (size_t i = 0; i < n; ++i) {
        const bool nibbleByte = i >= 3 && i < n - 2;
        if (nibbleByte)
            FUZZ_CHECK((again[i] & 0x0F) == (f[i] & 0x0F));
        else
            FUZZ_CHECK(again[i] == f[i]);
    }
    return 0;
}
