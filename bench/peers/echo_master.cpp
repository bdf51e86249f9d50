#include "bench/peers/echo_master.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <stdexcept>

namespace swb808::bench {

namespace {
int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::vector<uint8_t> BurstPattern(size_t n) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(0x808);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

EchoMaster::EchoMaster(int masterFd) : master_(masterFd) {
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) throw std::runtime_error("eventfd");
    thread_ = std::thread([this] { Run(); });
}

EchoMaster::~EchoMaster() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
}

bool EchoMaster::WriteAll(const std::vector<uint8_t>& bytes) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t r = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) return false;
        // A pty master is woken when room comes back only if the slave side was throttled,
        // which depends on how the reader reads: a 1 ms nap made the burst figure follow each
        // reader's read sizes rather than its cost. 50 us keeps a missed wake-up cheap.
        pollfd p{master_, POLLOUT, 0};
        const timespec nap{0, 50'000};
        ::ppoll(&p, 1, &nap, nullptr);
    }
    return true;
}

void EchoMaster::Run() {
    std::vector<uint8_t> pending;
    std::vector<uint8_t> reply;
    uint8_t buffer[512];
    for (;;) {
        pollfd fds[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) return;
        if (!(fds[1].revents & POLLIN)) continue;
        const ssize_t r = ::read(master_, buffer, sizeof buffer);
        if (r <= 0) continue;
        pending.insert(pending.end(), buffer, buffer + r);
        while (pending.size() >= kRequestSize) {
            requestSeen_.store(NowNs());
            const uint8_t sequence = pending[0];
            const size_t length = pending[1];
            if (length == 0 || pending[2] != 0xA5) bad_.fetch_add(1);
            reply.resize(length);
            for (size_t i = 0; i < length; ++i) reply[i] = ReplyByte(sequence, i);
            pending.erase(pending.begin(), pending.begin() + kRequestSize);
            WriteAll(reply);
            replySent_.store(NowNs());
        }
    }
}

}  // namespace swb808::bench
