// A `kill` or a hang-up ends the window as its close box does: a real process each time.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "protocol/board_facts.h"
#include "sim/board_simulator.h"
#include "tests/support/port_dir.h"

extern char** environ;

namespace swb808 {
namespace {

using namespace std::chrono_literals;

class Window {
  public:
    explicit Window(const char* exe) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(exe), nullptr};
        if (::posix_spawn(&pid_, exe, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~Window() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    pid_t Pid() const { return pid_; }
    // The first line it prints (empty when it ends first).
    std::string Line() {
        std::string line;
        char c;
        while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // Once the program has its handler for `signo` (it may be sent before that otherwise).
    bool Catches(int signo) {
        for (int i = 0; i < 500; ++i) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("SigCgt:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) >> (signo - 1) & 1))
                    return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    // The wait status once it has ended; -1 when it is still running after 30 s.
    int End() {
        for (int i = 0; i < 3000; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return status;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool ended_ = false;
};

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

}  // namespace
}  // namespace swb808
