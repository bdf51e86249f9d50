#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "sim/line_rate.h"

namespace swb808::sim {

namespace {
[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

constexpr size_t kMaxPeerChanges = 4096;

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        int e = errno;
        ::close(master_);
        errno = e;
        fail("pseudo-terminal setup");
    }
    slavePath_ = name;
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveHold_ < 0) {
        int e = errno;
        ::close(master_);
        errno = e;
        fail("open slave");
    }
    struct termios tio {};
    if (tcgetattr(slaveHold_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveHold_, TCSANOW, &tio);
    }
    // Added after our own open, so only other openers are counted. Without it (no inotify) the
    // line counts as always open.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
}

bool PseudoTerminal::PeerOpen() {
    std::lock_guard lock(peerMu_);
    if (watch_ < 0) return true;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(watch_, buf, sizeof buf);
        if (n <= 0) break;
        const auto seen = std::chrono::steady_clock::now();
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            if (ev->mask & IN_OPEN) {
                ++peerOpens_;
                changes_.push_back({seen, true});
            }
            if (ev->mask & IN_CLOSE) {
                if (peerOpens_ > 0 && --peerOpens_ == 0 && slaveHold_ >= 0)
                    tcflush(slaveHold_, TCIFLUSH);
                changes_.push_back({seen, false});
            }
            while (changes_.size() > kMaxPeerChanges) changes_.pop_front();
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return peerOpens_ > 0;
}

std::vector<PseudoTerminal::PeerChange> PseudoTerminal::TakePeerChanges() {
    std::lock_guard lock(peerMu_);
    std::vector<PeerChange> out(changes_.begin(), changes_.end());
    changes_.clear();
    return out;
}

PseudoTerminal::~PseudoTerminal() {
    Close();
}

void PseudoTerminal::LinkAs(const std::string& path) {
    ::unlink(path.c_str());
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        const std::string what = "cannot create link " + path;
        fail(what.c_str());
    }
    link_ = path;
}

std::vector<uint8_t> PseudoTerminal::Read(std::chrono::milliseconds timeout, size_t max) {
    std::vector<uint8_t> out;
    if (master_ < 0) return out;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0 || !(p.revents & POLLIN)) return out;
    out.resize(max);
    ssize_t n = ::read(master_, out.data(), max);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::vector<uint8_t> PseudoTerminal::ReadExactly(size_t n, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<uint8_t> out;
    while (out.size() < n) {
        auto chunk = Read(std::chrono::milliseconds(remainingMs(deadline)), n - out.size());
        if (chunk.empty() && remainingMs(deadline) == 0) break;
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

bool PseudoTerminal::Write(const std::vector<uint8_t>& bytes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t done = 0;
    while (done < bytes.size() && master_ >= 0) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{master_, POLLOUT, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) return false;
    }
    return done == bytes.size();
}

unsigned PseudoTerminal::LineRate() const {
    return master_ >= 0 ? ReadLineRate(master_) : 0;
}

void PseudoTerminal::Close() {
    if (!link_.empty()) {
        // Leave a link alone that has since been pointed at another line.
        char target[256];
        ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
            ::unlink(link_.c_str());
        link_.clear();
    }
    std::lock_guard lock(peerMu_);
    if (watch_ >= 0) ::close(watch_);
    if (slaveHold_ >= 0) ::close(slaveHold_);
    if (master_ >= 0) ::close(master_);
    watch_ = slaveHold_ = master_ = -1;
}

}  // namespace swb808::sim
