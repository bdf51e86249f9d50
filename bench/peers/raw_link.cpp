// The floor: termios and poll() on the device, no threads, no rings.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bench/peers/peer_link.h"

namespace swb808::bench {

namespace {

int msUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) + 1 : 0;
}

class RawLink : public PeerLink {
  public:
    ~RawLink() override { Close(); }
    std::string Name() const override { return "raw termios + poll"; }
    std::string WaitStyle() const override { return "poll + read"; }
    std::string IdleStyle() const override { return "poll"; }

    bool Open(const std::string& device) override {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            std::fprintf(stderr, "raw: open %s: %s\n", device.c_str(), std::strerror(errno));
            return false;
        }
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~CRTSCTS;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        cfsetspeed(&tio, B115200);
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
            std::fprintf(stderr, "raw: tcsetattr: %s\n", std::strerror(errno));
            Close();
            return false;
        }
        return true;
    }
    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool Send(const uint8_t* data, size_t n, Clock::time_point deadline) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::write(fd_, data + done, n - done);
            if (r > 0) {
                done += static_cast<size_t>(r);
            } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, msUntil(deadline)) == 0) return false;
            } else {
                return false;
            }
        }
        return true;
    }

    bool Receive(uint8_t* data, size_t n, Clock::time_point deadline) override {
        size_t got = 0;
        while (got < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msUntil(deadline)) == 0) return false;
            const ssize_t r = ::read(fd_, data + got, n - got);
            if (r > 0)
                got += static_cast<size_t>(r);
            else if (r < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }

    void Idle(std::chrono::milliseconds span) override {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(span.count()));
    }

  private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<PeerLink> MakeRawLink() {
    return std::make_unique<RawLink>();
}

}  // namespace swb808::bench
