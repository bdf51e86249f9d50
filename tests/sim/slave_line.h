#pragma once

// The program's end of a simulated line for tests: the slave device opened with plain termios.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/line_rate.h"

namespace swb808::sim::test {

class SlaveLine {
  public:
    SlaveLine(const std::string& path, speed_t speed) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) SetSpeed(speed);
    }
    ~SlaveLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    SlaveLine(const SlaveLine&) = delete;
    SlaveLine& operator=(const SlaveLine&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool SetSpeed(speed_t speed) {
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return false;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&tio, speed);
        return tcsetattr(fd_, TCSANOW, &tio) == 0;
    }

    // Any integer rate, through termios2.
    bool SetRate(unsigned rate) { return SetLineRate(fd_, rate); }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (done < bytes.size() && std::chrono::steady_clock::now() < until) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }

    // Collects up to `n` bytes; stops early when `timeout` runs out.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds timeout) {
        std::vector<uint8_t> out;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            uint8_t buf[512];
            ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0) out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // Everything that arrives within `timeout`.
    std::vector<uint8_t> ReadFor(std::chrono::milliseconds timeout) {
        return Read(1 << 16, timeout);
    }

  private:
    int fd_ = -1;
};

}  // namespace swb808::sim::test
