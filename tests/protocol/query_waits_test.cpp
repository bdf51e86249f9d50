// The query's waits as the board sees them: the gap between two commands on the wire is at
// least the reply wait (and the receive's first turn) that the program keeps between them.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>

#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"
#include "sim/board_simulator.h"
#include "tests/support/wire_times.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using test::FrameTimes;
using test::Ms;

constexpr uint8_t kMarker = 0xB0;  // not a command of the board: it only marks a time

class QueryWaits : public ::testing::Test {
  protected:
    static constexpr int kCom = 3;

    void SetUp() override {
        char tmpl[] = "/tmp/swb808-waits-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::setenv("SWB808_PORT_DIR", tmpl, 1);
    }
    void TearDown() override {
        if (port_.Open()) port_.SetOpen(false);
        if (board_) board_->Stop();
        ::unsetenv("SWB808_PORT_DIR");
        std::filesystem::remove_all(dir_);
    }
    sim::BoardSimulator& StartBoard(sim::BoardOptions options) {
        options.link = (dir_ / ("com" + std::to_string(kCom))).string();
        board_ = std::make_unique<sim::BoardSimulator>(options);
        board_->Start();
        port_.SetComNumber(kCom);
        port_.SetBaud(static_cast<int32_t>(options.baud));
        port_.SetOpen(true);
        EXPECT_TRUE(port_.Open());
        return *board_;
    }

    std::filesystem::path dir_;
    std::unique_ptr<sim::BoardSimulator> board_;
    TSerialPort port_;
    TSWB808Protocol proto_{port_};
};

// 2400 Bd: reply wait 125 ms, identity wait 250 ms, so a wait cut in half is far outside the
// tolerance the loaded machine needs for the board's time stamps.
TEST_F(QueryWaits, GapsBetweenCommandsHoldTheReplyWaits) {
    sim::BoardOptions options;
    options.baud = 2400;
    auto& board = StartBoard(options);
    ASSERT_TRUE(proto_.readconfig(kCom, 2400));
    proto_.Payload[0] = 0;
    proto_.SendCommand(kMarker, 1);  // right after the query: times its last wait
    ASSERT_TRUE(board.WaitForReceived(9 * 7, 2s));

    const double t = TSWB808Protocol::ReplyWaitMs(2400);
    const double identity = TSWB808Protocol::IdentityWaitMs(2400);
    const double turn = TSWB808Protocol::kReceiveTurnMs;
    const double drain = TSWB808Protocol::kReceiveTurns * turn;
    constexpr double kTolerance = 20;
    const struct {
        uint8_t from, to;
        double atLeastMs;  // the waits the program keeps between the two
    } gaps[] = {
        {0xB9, 0xB7, t + drain},  // reply wait, then the drain receive's fixed 31 turns
        {0xB7, 0xB3, t + turn},   // reply wait, then at least one receive turn
        {0xB3, 0xB1, t + turn},
        {0xB1, 0xB6, t + turn},
        {0xB6, 0xB5, 4 * (identity + turn)},  // four identity replies, each after its wait
        {0xB5, 0xBC, t + turn},
        {0xBC, kMarker, t + turn},
    };
    for (const auto& gap : gaps) {
        SCOPED_TRACE(testing::Message() << std::hex << "0x" << int(gap.from) << " to 0x"
                                        << int(gap.to));
        const auto from = FrameTimes(board, gap.from), to = FrameTimes(board, gap.to);
        ASSERT_EQ(from.size(), 1u);
        ASSERT_EQ(to.size(), 1u);
        EXPECT_GE(Ms(to[0] - from[0]), gap.atLeastMs - kTolerance);
    }
    // 0xB9 follows 0xB8 without a wait of its own; only the order is fixed.
    ASSERT_EQ(FrameTimes(board, 0xB8).size(), 1u);
    EXPECT_LE(FrameTimes(board, 0xB8)[0], FrameTimes(board, 0xB9)[0]);
}

// The version request carries the byte the drain receive left behind: the payload of the
// board's answer to 0xB8. The identity request carries the inputs just read.
TEST_F(QueryWaits, RequestsCarryTheBytesLeftByEarlierReplies) {
    sim::BoardOptions options;
    options.baud = 115200;
    options.pacing = false;
    options.b8Reply = 0x5A;
    options.inputs = 0x81;
    auto& board = StartBoard(options);
    ASSERT_TRUE(proto_.readconfig(kCom, 115200));
    std::map<uint8_t, Bytes> sent;
    for (const auto& f : board.FramesReceived()) sent[f.command] = f.payload;
    EXPECT_EQ(sent[0xB8], Bytes{0x00});
    EXPECT_EQ(sent[0xB9], Bytes{0x07});
    EXPECT_EQ(sent[0xB7], Bytes{0x5A});
    EXPECT_EQ(sent[0xB6], Bytes{0x81});
    for (uint8_t zeroed : {0xB3, 0xB1, 0xB5, 0xBC}) EXPECT_EQ(sent[zeroed], Bytes{0x00});
}

// A board that works 230 ms on every command still answers within each receive's 31 turns
// of 10 ms: a receive that polls shorter, or not at all, misses the replies.
TEST_F(QueryWaits, SlowBoardIsReadWithinTheReceiveTurns) {
    sim::BoardOptions options;
    options.baud = 115200;
    options.replyDelay = 230ms;
    options.relays = 0x05;
    options.inputs = 0x81;
    options.vcc = 866;
    auto& board = StartBoard(options);
    ASSERT_TRUE(proto_.readconfig(kCom, 115200));
    EXPECT_EQ(proto_.FirmwareVersion, "1.07a");
    EXPECT_EQ(proto_.RelayState, 0x05);
    EXPECT_EQ(proto_.OptoState, 0x81);
    EXPECT_EQ(proto_.DeviceId, board.Identity());
    EXPECT_EQ(proto_.DeviceConfig, board.Config());
    EXPECT_EQ(proto_.VccRaw, 866);
}

}  // namespace
}  // namespace swb808
