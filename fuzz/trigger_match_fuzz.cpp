// Trigger matcher against a plain search: the same match positions for any string of 1 to 21
// bytes and any stream, exact or ignoring case.
//
// Input: byte 0 picks the mode (bit 0: ignore case; bit 1: map all bytes onto the letters
// a A b B, where overlapping candidates are common; bits 2-7: string length 1..21), the next
// `length` bytes are the string, the rest is the stream.

#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "serial/data_trigger.h"

using namespace swb808;

namespace {

// An occurrence counts when it starts no earlier than the last byte of the previous one:
// a match drops every partial candidate except one that starts on its last byte.
std::vector<size_t> referenceEnds(const std::string& pattern, const std::string& stream,
                                  bool ignoreCase) {
    auto fold = [ignoreCase](char c) {
        const auto b = static_cast<uint8_t>(c);
        return ignoreCase ? AnsiUpper(b) : b;
    };
    std::vector<size_t> ends;
    const size_t n = pattern.size();
    size_t earliest = 0;
    for (size_t start = 0; start + n <= stream.size(); ++start) {
        if (start < earliest) continue;
        size_t k = 0;
        while (k < n && fold(stream[start + k]) == fold(pattern[k])) ++k;
        if (k == n) {
            ends.push_back(start + n - 1);
            earliest = start + n - 1;
        }
    }
    return ends;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool ignoreCase = data[0] & 1;
    const bool letters = data[0] & 2;
    const size_t n = 1 + (data[0] >> 2) % kMaxTriggerLength;
    if (size < 1 + n) return 0;
    auto byteAt = [&](size_t i) {
        return letters ? "aAbB"[data[i] & 3] : static_cast<char>(data[i]);
    };
    std::string pattern, stream;
    for (size_t i = 1; i <= n; ++i) pattern += byteAt(i);
    for (size_t i = 1 + n; i < size; ++i) stream += byteAt(i);

    DataTrigger t = MakeDataTrigger(pattern, ignoreCase, 8);
    FUZZ_CHECK(t.length == static_cast<int32_t>(n));
    std::vector<size_t> ends;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (t.Match(static_cast<uint8_t>(stream[i]))) ends.push_back(i);
        // Every cursor points into the string; slots beyond its length stay unused.
        for (size_t s = 0; s < t.matchSlots.size(); ++s) {
            const int32_t p = t.matchSlots[s];
            FUZZ_CHECK(p >= 0 && (s < n ? p < static_cast<int32_t>(n) : p == 0));
        }
    }
    const auto want = referenceEnds(pattern, stream, ignoreCase);
    if (ends != want) {
        std::fprintf(
            stderr,
            "string of %zu bytes, stream of %zu, ignoreCase %d: %zu matches, %zu expected\n", n,
            stream.size(), ignoreCase, ends.size(), want.size());
        FUZZ_CHECK(ends == want);
    }
    return 0;
}
