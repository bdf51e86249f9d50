#include "protocol/device_records.h"

#include <gtest/gtest.h>

namespace swb808 {
namespace {

TEST(VccDisplay, TextAndColourAtTheBounds) {
    struct Case {
        uint32_t raw;
        const char* text;
        TColor color;
    } cases[] = {
        {0, "0 V", clVccBad},        {782, "4.744 V", clVccBad},
        {783, "4.750 V", clVccGood}, {800, "4.853 V", clVccGood},
        {865, "5.247 V", clVccGood}, {866, "5.253 V", clVccBad},
        {1023, "6.206 V", clVccBad}, {65535, "397.5 V", clVccBad},
        {1, "0.006 V", clVccBad},
    };
    for (const auto& c : cases) {
        const double v = VccVolts(c.raw);
        EXPECT_EQ(VccText(v), c.text) << c.raw;
        EXPECT_EQ(VccColor(v), c.color) << c.raw;
    }
}

TEST(VccDisplay, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(VccText(VccVolts(800), ","), "4,853 V");
    EXPECT_EQ(VccText(VccVolts(65535), ","), "397,5 V");
    EXPECT_EQ(VccText(VccVolts(0), ","), "0 V");
}

TEST(VccDisplay, BothBoundsAreGreen) {
    EXPECT_EQ(VccColor(4.75), clVccGood);
    EXPECT_EQ(VccColor(5.25), clVccGood);
    EXPECT_EQ(VccColor(4.7499999), clVccBad);
    EXPECT_EQ(VccColor(5.2500001), clVccBad);
    EXPECT_EQ(VccText(5.0), "5 V");
}

TEST(ConfigRecord, BytesAndChecksum) {
    using R = std::array<uint8_t, 7>;
    EXPECT_EQ(ConfigWriteRecord(5, 2, 1, true, false, false),
              (R{0x05, 0x02, 0x00, 0x01, 0x00, 0x01, 0x09}));
    EXPECT_EQ(ConfigWriteRecord(13, 65535, 65535, true, true, true),
              (R{0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x10}));
    EXPECT_EQ(ConfigWriteRecord(7, 0x1234, 0xABCD, false, true, false),
              (R{0x07, 0x34, 0x12, 0xCD, 0xAB, 0x02, 0xC7}));
}

}  // namespace
}  // namespace swb808
