// The window's waits as the board sees them: around opening the port, after the reset of
// "Close" and "Reset", and between the update command and the first flash block. Each gap on
// the wire is at least the wait the program keeps there (the board's time stamps may come a
// little late on a loaded machine, hence the tolerance; nothing here bounds a gap above).

#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "firmware/firmware_image.h"

#include "tests/window/window_fixture.h"
#include "tests/support/wire_times.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;
using test::FrameTimes;
using test::LineTimes;
using test::Ms;
using Kind = sim::WireEvent::Kind;

constexpr int kOpenWaitMs = 10;     // before and after opening the port
constexpr int kResetWaitMs = 2000;  // after the reset command of "Close" and "Reset"

class WaitGaps : public WindowTest {
  protected:
    // The first time the program opened its side after `after`.
    static test::TimePoint FirstOpenAfter(const sim::BoardSimulator& board, test::TimePoint after) {
        for (const auto t : LineTimes(board, Kind::Opened))
            if (t > after) return t;
        return {};
    }
};

// The probe opens and closes the device; 10 ms later the port is opened, and 10 ms after that
// the wake byte goes out. Both waits are small, so they are taken over several scans and the
// median is compared: a late time stamp now and then must not fail the test.
TEST_F(WaitGaps, ScanWaitsAroundTheOpenAndBeforeTheWakeByte) {
    auto& board = AddBoard(Board(115200));
    std::vector<double> beforeOpen, afterOpen;
    for (int round = 0; round < 5; ++round) {
        board.ClearRecord();
        Scan("COM3", "115200");
        ASSERT_TRUE(form().Connected);
        // In the record's order (a close and an open read together share their time stamp):
        // the probe's open and close, then the port's open. A close of the previous round
        // may come first.
        const auto log = board.WireLog();
        const Kind pattern[] = {Kind::Opened, Kind::Closed, Kind::Opened};
        std::vector<test::TimePoint> at;
        for (const auto& e : log)
            if (at.size() < 3 && e.kind == pattern[at.size()]) at.push_back(e.time);
        ASSERT_EQ(at.size(), 3u) << "the probe's open and close, and the port's open";
        const auto probeClosed = at[1], opened = at[2];
        const auto wake = test::FirstBytesAfter(board, opened);
        ASSERT_NE(wake, test::TimePoint{});
        const auto frames = board.FramesReceived();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].command, 0xB8);
        EXPECT_LE(wake, frames[0].time) << "the wake byte comes before the query";
        beforeOpen.push_back(Ms(opened - probeClosed));
        afterOpen.push_back(Ms(wake - opened));
        // Disconnect without the reset and its 2 s wait: the next round opens afresh.
        form().disconnect();
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    constexpr double kTolerance = 2;
    EXPECT_GE(median(beforeOpen), kOpenWaitMs - kTolerance) << "probe closed to port opened, ms: " << ::testing::PrintToString(beforeOpen);
    // From the open() the board sees, the port's own set-up (line settings, threads; 2.5 ms
    // and more here) comes on top of the wait: that is the slack for late time stamps, so a
    // halved wait does not hide in the tolerance.
    EXPECT_GE(median(afterOpen), kOpenWaitMs) << "port opened to wake byte, ms: " << ::testing::PrintToString(afterOpen);
}

// "Close": the reset command, then 2 s before the program touches the line again (here: the
// probe of the next scan, clicked as soon as the window is back).
TEST_F(WaitGaps, CloseWaitsTwoSecondsAfterTheReset) {
    auto& board = Connect();
    board.ClearRecord();
    Click(form().ScanSpeedButton);  // "Close"
    ASSERT_FALSE(form().Connected);
    Scan("COM3", "115200");
    ASSERT_TRUE(form().Connected);
    const auto reset = FrameTimes(board, 0xBA);
    ASSERT_EQ(reset.size(), 1u);
    const auto next = FirstOpenAfter(board, reset[0]);
    ASSERT_NE(next, test::TimePoint{});
    EXPECT_GE(Ms(next - reset[0]), kResetWaitMs - 50);
}

// "Reset": the reset command, 2 s, then the rescan. The rate is picked during the wait, as an
// operator may, so that the rescan tries one pair.
TEST_F(WaitGaps, ResetWaitsTwoSecondsBeforeTheRescan) {
    auto& board = Connect();
    board.ClearRecord();
    QTimer::singleShot(1000, &form(), [this] { Select("COM3", "115200"); });
    Click(form().ResetSpeedButton);
    ASSERT_TRUE(form().Connected);
    const auto reset = FrameTimes(board, 0xBA);
    ASSERT_EQ(reset.size(), 1u);
    const auto next = FirstOpenAfter(board, reset[0]);
    ASSERT_NE(next, test::TimePoint{});
    EXPECT_GE(Ms(next - reset[0]), kResetWaitMs - 50);
}

// Flash while connected at 2400 Bd: after 0xBB the program waits 210000 / 2400 = 87 ms and
// sweeps up the answer with a receive of 31 turns before the first block goes out. The board
// rejects block 0 so that the transfer ends there.
TEST_F(WaitGaps, FlashEntryWaitsBeforeTheFirstBlock) {
    sim::BoardOptions options;
    auto& board = Connect(2400, options);
    TFirmwareImage image{};
    image[0] = 0x11;
    WriteImageChecksum(image);
    const std::string path = ports.Path() + "/image.bin";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), file), image.size());
        std::fclose(file);
    }
    dialogs->fileAnswers.push_back(QString::fromStdString(path));
    form().LoadSpeedButtonClick();
    ASSERT_TRUE(form().FirmwareLoaded);
    board.SetFault(sim::FaultKind::WrongEcho, 0);
    board.ClearRecord();

    Click(form().UpdateSpeedButton);

    const auto update = FrameTimes(board, 0xBB);
    ASSERT_EQ(update.size(), 1u);
    const auto block = test::FirstBytesAfter(board, update[0]);
    ASSERT_NE(block, test::TimePoint{});
    EXPECT_EQ(board.BlocksReceived(), 1u);
    const double entryWait = 210000 / 2400 + TSWB808Protocol::kReceiveTurns * 10;
    EXPECT_GE(Ms(block - update[0]), entryWait - 20);
}

}  // namespace
}  // namespace swb808::testing
