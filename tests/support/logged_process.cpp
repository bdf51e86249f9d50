#include "tests/support/logged_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace swb808::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

LoggedProcess::LoggedProcess(const std::vector<std::string>& argv,
                             const std::map<std::string, std::string>& env) {
    int out[2];
    if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        // A test run from a systemd unit must not hand the child that unit's directories.
        ::unsetenv("STATE_DIRECTORY");
        ::unsetenv("RUNTIME_DIRECTORY");
        ::unsetenv("NOTIFY_SOCKET");
        ::execvp(cargs[0], cargs.data());
        ::_exit(127);
    }
    ::close(out[1]);
    reader_ = std::thread([this, fd = out[0]] {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            const std::lock_guard lock(mutex_);
            log_.append(buf, size_t(n));
        }
        ::close(fd);
    });
}

LoggedProcess::~LoggedProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
}

bool LoggedProcess::WaitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Log().find(text) == std::string::npos) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string LoggedProcess::Log() const {
    const std::lock_guard lock(mutex_);
    return log_;
}

void LoggedProcess::Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

int LoggedProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return status_;
    const auto deadline = Clock::now() + timeout;
    int st = 0;
    killedAtTimeout_ = false;
    while (::waitpid(pid_, &st, WNOHANG) != pid_) {
        if (Clock::now() >= deadline) {
            killedAtTimeout_ = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &st, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (reader_.joinable()) reader_.join();
    return status_;
}

}  // namespace swb808::test
