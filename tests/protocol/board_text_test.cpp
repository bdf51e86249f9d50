// The board's Windows-1252 texts through UTF-8 and back, as the tool gets them from the
// service's JSON.

#include <gtest/gtest.h>

#include "protocol/board_text.h"

namespace swb808 {
namespace {

TEST(BoardText, EveryByteComesBackFromUtf8AndTheRestBecomesAQuestionMark) {
    std::string all;
    for (int b = 1; b <= 255; ++b) all += char(b);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(std::string("V1.2\0\0", 6))), "V1.2");  // padding is gone
    EXPECT_EQ(Utf8ToAnsi("\u20AC 5 \u4E2D \U0001F600"), "\x80 5 ? ?");
    EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");  // cut short
}

}  // namespace
}  // namespace swb808
