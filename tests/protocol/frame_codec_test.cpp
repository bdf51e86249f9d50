#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "port_fixture.h"
#include "protocol/device_records.h"
#include "protocol/paced_wait.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class FrameCodec : public testing::PortFixture {
  protected:
    void SetUp() override {
        PortFixture::SetUp();
        OpenAt(115200);
    }

    // The board sends `bytes`; the receive starts once all of them are waiting.
    uint32_t Receive(const Bytes& bytes, int32_t expected) {
        const uint16_t waiting = port_.InputCount();
        EXPECT_TRUE(pty_->Write(bytes));
        EXPECT_TRUE(WaitForInput(static_cast<uint16_t>(waiting + bytes.size())));
        proto_.Payload.fill(0xEE);  // a receive must clear what was there
        return proto_.RcvCommand(expected);
    }

    Bytes PayloadPrefix(size_t n) const {
        return Bytes(proto_.Payload.begin(), proto_.Payload.begin() + static_cast<long>(n));
    }
    bool PayloadZeroFrom(size_t from) const {
        return std::all_of(proto_.Payload.begin() + static_cast<long>(from), proto_.Payload.end(),
                           [](uint8_t b) { return b == 0; });
    }
};

TEST_F(FrameCodec, SendsTheExactFrame) {
    const auto config = ConfigWriteRecord(5, 2, 1, true, false, false);
    struct Case {
        uint8_t command;
        Bytes payload;
        Bytes wire;
    } cases[] = {
        {0xB2, {0x05}, {0xC1, 0xB2, 0xE1, 0x55, 0x50, 0xA5, 0xDF}},
        {0xB2, {0xA0}, {0xC1, 0xB2, 0xE1, 0x50, 0x5A, 0xAA, 0xDF}},
        {0xBA, {0x00}, {0xC1, 0xBA, 0xE1, 0x50, 0x50, 0xA0, 0xDF}},
        {0xB4,
         Bytes(config.begin(), config.end()),
         {0xC1, 0xB4, 0xE7, 0x55, 0x50, 0x52, 0x50, 0x50, 0x50, 0x51, 0x50, 0x50, 0x50, 0x51, 0x50,
          0x59, 0x50, 0xA2, 0xDF}},
    };
    for (const auto& c : cases) {
        std::copy(c.payload.begin(), c.payload.end(), proto_.Payload.begin());
        const auto before = proto_.Payload;
        EXPECT_TRUE(proto_.SendCommand(c.command, static_cast<int32_t>(c.payload.size())));
        // It returns only once the frame has left the output buffer.
        EXPECT_EQ(port_.OutputFree(), port_.OutSize());
        EXPECT_EQ(pty_->ReadExactly(c.wire.size(), 2s), c.wire);
        EXPECT_EQ(proto_.Payload, before) << "a send leaves Payload alone";
    }
    EXPECT_TRUE(pty_->Read(50ms).empty());
}

TEST_F(FrameCodec, SixteenBytePayloadUsesLengthNibbleZero) {
    for (int i = 0; i < 16; ++i) proto_.Payload[i] = static_cast<uint8_t>(0x11 * i);
    ASSERT_TRUE(proto_.SendCommand(0xB6, 16));
    const Bytes wire = pty_->ReadExactly(37, 2s);
    ASSERT_EQ(wire.size(), 37u);
    EXPECT_EQ(wire[2], 0xE0);
    EXPECT_EQ(wire[36], 0xDF);

    // The same frame read back decodes to the same bytes.
    const Bytes sent(proto_.Payload.begin(), proto_.Payload.begin() + 16);
    EXPECT_EQ(Receive(wire, 37), 0x100006u);
    EXPECT_EQ(PayloadPrefix(16), sent);
}

TEST_F(FrameCodec, LengthsTheFrameCannotCarryAreRefused) {
    EXPECT_FALSE(proto_.SendCommand(0xB2, 0));
    EXPECT_FALSE(proto_.SendCommand(0xB2, 17));
    EXPECT_FALSE(proto_.SendCommand(0xB2, 1000));
    EXPECT_TRUE(pty_->Read(50ms).empty());
}

TEST_F(FrameCodec, DecodesValidFrames) {
    struct Case {
        const char* name;
        Bytes wire;
        uint32_t result;
        Bytes payload;
    } cases[] = {
        {"input change", {0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF}, 0x10002, {0x81}},
        {"voltage", {0xC1, 0xBC, 0xE2, 0x50, 0x52, 0x53, 0x50, 0xA5, 0xDF}, 0x2000C, {0x20, 0x03}},
        {"high nibbles ignored", {0xC1, 0xB2, 0xE1, 0x01, 0x08, 0xA9, 0xDF}, 0x10002, {0x81}},
        {"reply code 0 is not 0", {0xC1, 0xB0, 0xE1, 0x50, 0x50, 0xA0, 0xDF}, 0x10000, {0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Receive(c.wire, static_cast<int32_t>(c.wire.size())), c.result) << c.name;
        EXPECT_EQ(PayloadPrefix(c.payload.size()), c.payload) << c.name;
        EXPECT_TRUE(PayloadZeroFrom(c.payload.size())) << c.name;
        EXPECT_EQ(port_.InputCount(), 0) << c.name;
    }
}

TEST_F(FrameCodec, FailedTestsAndWhatStaysInPayload) {
    struct Case {
        const char* name;
        Bytes wire;
        Bytes payload;  // what Payload holds afterwards (the rest zero)
    } cases[] = {
        {"wrong start", {0xC2, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF}, {}},
        {"wrong command nibble", {0xC1, 0xA2, 0xE1, 0x51, 0x58, 0xA9, 0xDF}, {}},
        {"wrong length nibble", {0xC1, 0xB2, 0xD1, 0x51, 0x58, 0xA9, 0xDF}, {}},
        {"wrong check", {0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xAA, 0xDF}, {0x81}},
        {"wrong end", {0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDE}, {0x81}},
        // The length nibble is trusted: the missing bytes read as zero and fail the check.
        {"announces more than read", {0xC1, 0xB2, 0xE3, 0x51, 0x58, 0xA9, 0xDF}, {0x81, 0xF9}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Receive(c.wire, 7), 0u) << c.name;
        EXPECT_EQ(PayloadPrefix(c.payload.size()), c.payload) << c.name;
        EXPECT_TRUE(PayloadZeroFrom(c.payload.size())) << c.name;
        EXPECT_EQ(port_.InputCount(), 0) << c.name << ": the bytes read are consumed";
    }
}

TEST_F(FrameCodec, StrayByteBeforeTheFrameLeavesItsLastByteQueued) {
    EXPECT_EQ(Receive({0x00, 0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF}, 7), 0u);
    EXPECT_TRUE(PayloadZeroFrom(0));
    ASSERT_EQ(port_.InputCount(), 1);
    EXPECT_EQ(port_.ReadByte(), 0xDF);
}

TEST_F(FrameCodec, TooFewBytesAreLeftForTheNextReceive) {
    const Bytes frame = {0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF};
    EXPECT_EQ(Receive(Bytes(frame.begin(), frame.end() - 1), 7), 0u);
    EXPECT_TRUE(PayloadZeroFrom(0));
    EXPECT_EQ(port_.InputCount(), 6);
    // The last byte arrives late: the next receive gets the whole frame.
    EXPECT_EQ(Receive({0xDF}, 7), 0x10002u);
    EXPECT_EQ(proto_.Payload[0], 0x81);
}

TEST_F(FrameCodec, DrainTakesAtMost256BytesAndDecodesTheFirstFrame) {
    Bytes wire = {0xC1, 0xB9, 0xE1, 0x57, 0x50, 0xA7, 0xDF};
    wire.resize(300, 0x5A);
    EXPECT_EQ(Receive(wire, 0), 0x10009u);
    EXPECT_EQ(proto_.Payload[0], 0x07);
    EXPECT_EQ(port_.InputCount(), 44);
    EXPECT_EQ(proto_.FrameBuffer[255], 0x5A);
}

TEST_F(FrameCodec, DrainWithNothingWaiting) {
    proto_.Payload.fill(0xEE);
    EXPECT_EQ(proto_.RcvCommand(0), 0u);
    EXPECT_EQ(proto_.RcvCommand(-1), 0u);
    EXPECT_TRUE(PayloadZeroFrom(0));
}

// A handler that runs inside a receive's wait takes the frame for itself; the outer receive
// then finds nothing and fails cleanly.
TEST_F(FrameCodec, NestedReceiveInsideAWait) {
    uint32_t inner = 0;
    int depth = 0;
    auto previous = SetEventPump([&] {
        if (depth > 0 || inner != 0) return;
        ++depth;
        EXPECT_TRUE(WaitForInput(7));
        inner = proto_.RcvCommand(7);
        --depth;
    });
    ASSERT_TRUE(pty_->Write({0xC1, 0xB2, 0xE1, 0x51, 0x58, 0xA9, 0xDF}));
    const uint32_t outer = proto_.RcvCommand(7);
    SetEventPump(previous);
    EXPECT_EQ(inner, 0x10002u);
    EXPECT_EQ(outer, 0u);
    EXPECT_EQ(port_.InputCount(), 0);
}

}  // namespace
}  // namespace swb808
