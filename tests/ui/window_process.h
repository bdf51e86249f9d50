#pragma once

// The window's program (or a host of the window) as a process of its own, on the offscreen
// platform, with the environment of the test (its port and lock directories).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace swb808::test {

using namespace std::chrono_literals;

class Window {
  public:
    explicit Window(const char* exe, std::vector<std::string> args = {}) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, exe, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
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

}  // namespace swb808::test
