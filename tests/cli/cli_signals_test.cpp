// Signals and a stdout that blocks, breaks or fails: during the blocks of a flash nothing but
// a second Ctrl-C stops the transfer; anywhere else the tool ends promptly and leaves the
// port free for the next program.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "tests/cli/cli_fixture.h"

namespace swb808::cli::test {
namespace {

using namespace std::chrono_literals;

class CliSignals : public CliTest {
  protected:
    // The port is free again: no lock file, and the next command opens it.
    void ExpectPortFree(int com, const std::string& baud) {
        EXPECT_TRUE(NoLockFiles());
        const CtlResult next =
            Run({"--port", "COM" + std::to_string(com), "--baud", baud, "inputs"});
        EXPECT_EQ(next.status, 0) << next.err;
    }
};

// What ends a session or a pipeline must not leave a board half-flashed.
TEST_F(CliSignals, HangUpTermAndABrokenPipeDuringTheBlocksLetTheTransferFinish) {
    SimProcess& board = Board(3, {"--baud", "115200", "--restart-ms", "2000"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    struct Case {
        std::string name;
        int signal;  // 0: the reader of stdout goes away
    };
    for (const Case& c : {Case{"SIGHUP", SIGHUP}, Case{"SIGTERM", SIGTERM}, Case{"EPIPE", 0}}) {
        SCOPED_TRACE(c.name);
        // The board is back from the last case's restart.
        for (int i = 0; i < 100 && board.Status().find("mode firmware") == std::string::npos; ++i)
            std::this_thread::sleep_for(50ms);
        auto flash = Start({"--port", "COM3", "--baud", "115200", "flash", image});
        ASSERT_TRUE(flash->WaitForError("/96 blocks 10%", 30s)) << flash->Out() << flash->Err();
        if (c.signal != 0)
            flash->Signal(c.signal);
        else
            flash->CloseOutput();
        const CtlResult r = flash->Finish(60s);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(NoLockFiles());
        // Without a reader the restarted board is still looked for: the status tells.
        if (c.signal == 0) {
            EXPECT_TRUE(board.StatusShows("mode firmware")) << board.Status();
        }
    }
    EXPECT_TRUE(board.StatusShows("flashes 3")) << board.Status();
}

// Before the blocks a hang-up ends the tool as Ctrl-C does, the port closed.
TEST_F(CliSignals, HangUpBeforeTheBlocksEndsWithThePortFree) {
    Board(3, {"--baud", "300"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    auto flash = Start({"--port", "COM3", "--baud", "300", "flash", image});  // the query runs
    std::this_thread::sleep_for(1s);
    flash->Signal(SIGHUP);
    const CtlResult r = flash->Finish(5s);
    EXPECT_EQ(r.status, 130) << r.err;
    ExpectPortFree(3, "300");
}

// A reader that never reads: the watch is stuck in its write when the signal comes.
TEST_F(CliSignals, SigtermEndsAWatchWhoseOutputIsBlocked) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const std::string fill(size_t(::fcntl(fds[1], F_GETPIPE_SZ)), 'x');
    ASSERT_EQ(::write(fds[1], fill.data(), fill.size()), ssize_t(fill.size()));
    auto watch = Start({"--json", "--port", "COM3", "--baud", "115200", "watch"}, {fds[1]});
    ::close(fds[1]);
    std::this_thread::sleep_for(1s);  // the watch has read its first state
    EXPECT_EQ(board.Command("inputs 5"), "ok");
    std::this_thread::sleep_for(500ms);  // the change line is being written
    watch->Signal(SIGTERM);
    const CtlResult r = watch->Finish(5s);
    ::close(fds[0]);
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectPortFree(3, "115200");
}

TEST_F(CliSignals, AWatchEndsWhenItsReaderGoesAwayWithoutWaitingForAChange) {
    Board(3, {"--baud", "115200"});
    auto watch = Start({"--json", "--port", "COM3", "--baud", "115200", "watch"});
    std::this_thread::sleep_for(1s);
    watch->CloseOutput();
    const CtlResult r = watch->Finish(5s);
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectPortFree(3, "115200");
}

TEST_F(CliSignals, AResultThatCannotBeWrittenIsExitOne) {
    Board(3, {"--baud", "115200"});
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    struct Case {
        std::string name;
        std::vector<std::string> args;
        int fd;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"full",
         {"--port", "COM3", "--baud", "115200", "info"},
         full,
         "cannot write to stdout: No space left on device"},
        {"closed",
         {"--json", "--port", "COM3", "--baud", "115200", "info"},
         StdoutTo::kClosed,
         "cannot write to stdout: it is closed"},
        {"help", {"--help"}, full, "cannot write to stdout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CtlResult r = Start(c.args, {c.fd})->Finish(30s);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    ::close(full);
}

}  // namespace
}  // namespace swb808::cli::test
