#pragma once

// A program the tests start as a user would: its own process, stdout and stderr collected into
// one log, killed at the end if it is still running.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace swb808::test {

class LoggedProcess {
  public:
    // argv[0] is looked up in PATH unless it has a slash; `env` is set on top of ours.
    LoggedProcess(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env = {});
    ~LoggedProcess();  // SIGKILL when still running
    LoggedProcess(const LoggedProcess&) = delete;
    LoggedProcess& operator=(const LoggedProcess&) = delete;

    // Whether `text` is in the log by `timeout`.
    bool WaitForLog(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    std::string Log() const;
    pid_t Pid() const { return pid_; }
    void Signal(int sig);
    // Waits for the end, SIGKILL after `timeout`: the exit status, or 128 + signal.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // The last Wait ran out of time and killed the process.
    bool KilledAtTimeout() const { return killedAtTimeout_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool killedAtTimeout_ = false;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string log_;
};

}  // namespace swb808::test
