#include "sim/pseudo_terminal.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
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
constexpr auto kRecheckFor = std::chrono::milliseconds(25);
constexpr auto kRecheckEvery = std::chrono::milliseconds(10);
constexpr auto kLookWait = std::chrono::milliseconds(200);

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
    // Added after our own open, so only other openers are notified. Without it (no inotify)
    // the line counts as always open.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    if (watch_ >= 0) looker_ = std::thread([this] { Look(); });
}

void PseudoTerminal::ReadNotifications() {
    std::lock_guard lock(peerMu_);
    ReadNotificationsLocked();
}

// Notifications that follow each other unread are merged (two opens may come as one), so they
// are recorded but not counted: they tell when to look.
void PseudoTerminal::ReadNotificationsLocked() {
    if (watch_ < 0) return;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(watch_, buf, sizeof buf);
        if (n <= 0) break;
        const auto seen = std::chrono::steady_clock::now();
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            if (ev->mask & (IN_OPEN | IN_CLOSE)) {
                const bool opened = (ev->mask & IN_OPEN) != 0;
                changes_.push_back({seen, opened});
                while (changes_.size() > kMaxPeerChanges) changes_.pop_front();
                if (opened) {
                    lastOpenRead_ = seen;
                    peerOpen_ = true;
                }
                lastWasOpen_ = opened;
                lookDue_ = true;
                ++notifications_;
                lookCv_.notify_one();
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

bool PseudoTerminal::PeerOpen() {
    std::unique_lock lock(peerMu_);
    if (watch_ < 0) return true;
    ReadNotificationsLocked();
    // While a close is looked into, the answer is awaited: bytes for a port that has gone are
    // lost, not delivered.
    lookedCv_.wait_for(lock, kLookWait, [this] { return !lookDue_ && !looking_; });
    return peerOpen_;
}

// Reading /proc takes milliseconds on a busy machine: done here, it never holds up the bytes.
void PseudoTerminal::Look() {
    std::unique_lock lock(peerMu_);
    while (!stopLooking_) {
        const auto now = std::chrono::steady_clock::now();
        const bool recheck = !peerOpen_ && now < recheckUntil_;
        if (!lookDue_ && !recheck) {
            lookCv_.wait(lock);
            continue;
        }
        if (!lookDue_ && now < nextRecheck_) {
            lookCv_.wait_until(lock, nextRecheck_);
            continue;
        }
        lookDue_ = false;
        nextRecheck_ = now + kRecheckEvery;
        const uint64_t seen = notifications_;
        const bool openLast = lastWasOpen_;
        looking_ = true;
        lock.unlock();
        // An open that came last is still held: its close will be notified.
        const bool held = openLast || HeldByOthers();
        lock.lock();
        looking_ = false;
        if (seen == notifications_) {
            peerOpen_ = held;
            if (!held) LastClosed(std::chrono::steady_clock::now());
        }  // else look again
        lookedCv_.notify_all();
    }
}

void PseudoTerminal::LastClosed(std::chrono::steady_clock::time_point seen) {
    tcflush(slaveHold_, TCIFLUSH);
    ::ioctl(slaveHold_, TIOCNXCL);
    if (seen - lastOpenRead_ < kRecheckFor) {
        recheckUntil_ = seen + kRecheckFor;
        nextRecheck_ = seen + kRecheckEvery;
    }
}

// Any descriptor on the slave device but our own hold, in any process we may look into.
bool PseudoTerminal::HeldByOthers() const {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return true;  // cannot tell: never drop what a program may be reading
    const std::string self = std::to_string(::getpid());
    const std::string ownHold = std::to_string(slaveHold_);
    bool held = false;
    char target[256];
    while (!held) {
        const dirent* p = ::readdir(proc);
        if (p == nullptr) break;
        if (!std::isdigit(static_cast<unsigned char>(p->d_name[0]))) continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;  // gone, or not ours to see
        const bool isSelf = self == p->d_name;
        while (const dirent* f = ::readdir(fds)) {
            const ssize_t n = ::readlinkat(::dirfd(fds), f->d_name, target, sizeof target);
            if (n != static_cast<ssize_t>(slavePath_.size()) ||
                slavePath_.compare(0, slavePath_.size(), target, static_cast<size_t>(n)) != 0)
                continue;
            if (isSelf && ownHold == f->d_name) continue;
            held = true;
            break;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return held;
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
    {
        std::lock_guard lock(peerMu_);
        stopLooking_ = true;
    }
    lookCv_.notify_all();
    if (looker_.joinable()) looker_.join();
    std::lock_guard lock(peerMu_);
    if (watch_ >= 0) ::close(watch_);
    if (slaveHold_ >= 0) ::close(slaveHold_);
    if (master_ >= 0) ::close(master_);
    watch_ = slaveHold_ = master_ = -1;
}

}  // namespace swb808::sim
