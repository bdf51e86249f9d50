// A `kill` or a hang-up ends the window as its close box does (also its rules during a
// flash): a real process each time.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "firmware/firmware_image.h"
#include "protocol/board_facts.h"
#include "sim/board_simulator.h"
#include "tests/support/port_dir.h"
#include "tests/ui/window_process.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using test::Window;

TEST(WindowSignals, TermAndHangUpEndTheProgramNormally) {
    for (int signo : {SIGTERM, SIGHUP}) {
        test::TempPortDir ports;
        Window window(SWB808_EXECUTABLE);
        ASSERT_GT(window.Pid(), 0);
        EXPECT_TRUE(window.Catches(signo)) << strsignal(signo);
        ::kill(window.Pid(), signo);
        const int status = window.End();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << strsignal(signo) << ": wait status " << status;
    }
}

TEST(WindowSignals, TermWhileConnectedResetsTheBoardAndRemovesTheLockFile) {
    test::TempPortDir ports;
    sim::BoardOptions options;
    options.link = ports.ComPath(3);
    sim::BoardSimulator board(options);
    board.Start();
    Window window(SWB808_SIGNAL_HOST);
    ASSERT_EQ(window.Line(), "connected");
    const auto locks = [&] {
        return std::distance(std::filesystem::directory_iterator(ports.LockDir()),
                             std::filesystem::directory_iterator());
    };
    ASSERT_EQ(locks(), 1) << "the port's lock file";
    board.ClearRecord();
    ::kill(window.Pid(), SIGTERM);
    const int status = window.End();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(locks(), 0);
    ASSERT_TRUE(board.WaitForReceived(7, 2s));
    const auto frames = board.FramesReceived();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, board::kReset);
    EXPECT_EQ(frames[0].payload, std::vector<uint8_t>{0});
}

// During the blocks the close waits for the transfer's end.
TEST(WindowSignals, TermDuringTheBlocksWaitsForTheTransfersEnd) {
    test::TempPortDir ports;
    sim::BoardOptions options;
    options.link = ports.ComPath(1);
    options.bootloader = true;
    options.pacing = false;
    sim::BoardSimulator board(options);
    board.Start();
    TFirmwareImage image{};
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string version = "1.08bWXYZVERSION";
    std::copy(version.begin(), version.end(), image.begin() + 200);
    WriteImageChecksum(image);
    const std::string path = ports.Path() + "/image.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), image.size());

    Window window(SWB808_SIGNAL_HOST, {"--flash", path});
    ASSERT_EQ(window.Line(), "flashing");
    for (int i = 0; i < 6000 && board.BlocksReceived() < 10; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_GE(board.BlocksReceived(), 10u);
    ASSERT_LT(board.BlocksReceived(), sim::kBlockCount) << "the signal comes during the blocks";
    ::kill(window.Pid(), SIGTERM);
    const int status = window.End();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    EXPECT_EQ(board.BlocksReceived(), sim::kBlockCount);
    EXPECT_TRUE(board.ImageValid());
    EXPECT_TRUE(std::filesystem::is_empty(ports.LockDir()));
}

}  // namespace
}  // namespace swb808
