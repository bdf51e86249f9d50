#include "serial/posix_dispatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/device_layer.h"
#include "serial/lock_file.h"
#include "serial/posix_line.h"
#include "serial/serial_errors.h"

namespace swb808 {

namespace {

void drainEventFd(int fd) {
    uint64_t count;
    while (::read(fd, &count, sizeof count) > 0) {
    }
}

void signalEventFd(int fd) {
    if (fd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(fd, &one, sizeof one);
}

int pollMs(std::chrono::milliseconds timeout) {
    return timeout.count() < 0 ? -1 : static_cast<int>(std::min<int64_t>(timeout.count(), 60000));
}

}  // namespace

std::unique_ptr<TBaseDispatcher> CreateDeviceDispatcher(TSerialPort* port) {
    return std::make_unique<TPosixDispatcher>(port);
}

// Changes nothing on the line: the probe neither sets nor clears the exclusive mode and drops
// nothing queued, since another program may have the device open without any lock.
int32_t ProbeDevice(const std::string& path) {
    const int32_t fd = TPosixDispatcher::OpenUnlessHeld(path);
    if (fd < 0) return fd;
    ::close(fd);
    return 0;
}

TPosixDispatcher::~TPosixDispatcher() {
    // Normally closed by the port's close; this covers a failed or abandoned open.
    if (fd_ >= 0) CloseDevice();
    CloseSignals();
}

int32_t TPosixDispatcher::OpenUnlessHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ErrnoToCode(errno, true);
    // Root gets through another program's TIOCEXCL, so it is asked for. Every check comes
    // before any line setting, so a held device is left untouched.
    int32_t held = 0;
    if (posix::IsExclusive(fd))
        held = ecAlreadyOpen;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        held = ErrnoToCode(errno, true);
    else if (posix::LockedByLiveProcess(path))
        held = ecAlreadyOpen;
    if (held != 0) {
        ::close(fd);
        return held;
    }
    return fd;
}

int32_t TPosixDispatcher::CreateSignals() {
    comWake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    outWake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    lineWait_ = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = comWake_;
    if (comWake_ < 0 || outWake_ < 0 || lineWait_ < 0 ||
        ::epoll_ctl(lineWait_, EPOLL_CTL_ADD, comWake_, &wake) != 0) {
        CloseSignals();
        return ecOutOfMemory;
    }
    return 0;
}

void TPosixDispatcher::CloseSignals() {
    for (int* fd : {&lineWait_, &comWake_, &outWake_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    watchedFd_ = -1;
}

int32_t TPosixDispatcher::OpenDevice(const std::string& path) {
    const int32_t fd = OpenUnlessHeld(path);
    if (fd < 0) return fd;
    // A lock file made since the check above is as good as a held device.
    const posix::CreatedLock lock = posix::CreateLockFile(path);
    if (lock.inUse) {
        ::close(fd);
        return ecAlreadyOpen;
    }
    lockFile_ = lock.path;
    posix::SetExclusive(fd, true);  // root ignores it; the lock above is what counts
    fd_ = fd;
    return 0;
}

// Only this program's own open gets here: the exclusive mode and the queue are its own.
void TPosixDispatcher::CloseDevice() {
    int fd;
    {
        // Out of the wait's set and forgotten before it is closed: the dispatch thread may be
        // about to watch it.
        const std::lock_guard lock(watchLock_);
        fd = fd_.exchange(-1);
        if (fd < 0) return;
        if (watchedFd_ >= 0) ::epoll_ctl(lineWait_, EPOLL_CTL_DEL, watchedFd_, nullptr);
        watchedFd_ = -1;
    }
    posix::SetExclusive(fd, false);
    // Nothing may stay queued: the kernel's closing wait on pending output can last 30 s.
    // An empty queue is left alone (on a pseudo-terminal the purge drops what the other side
    // has not read yet).
    int queued = 0;
    if (posix::OutQueue(fd, queued) != 0 || queued > 0) posix::Flush(fd, false, true);
    ::close(fd);
    posix::RemoveLockFile(lockFile_);
    lockFile_.clear();
}

bool TPosixDispatcher::LostBy(int e) {
    if (e == EIO || e == ENODEV || e == ENXIO || e == EBADF) {
        MarkLineLost(ErrnoToCode(e));
        return true;
    }
    return false;
}

int32_t TPosixDispatcher::ReadDevice(uint8_t* buffer, int32_t n) {
    const ssize_t r = ::read(fd_, buffer, static_cast<size_t>(n));
    if (r > 0) return static_cast<int32_t>(r);
    if (r < 0) LostBy(errno);  // other read errors count as nothing read
    return 0;
}

bool TPosixDispatcher::WaitWritable() {
    pollfd fds[2] = {{outWake_, POLLIN, 0}, {fd_, POLLOUT, 0}};
    for (;;) {
        if (StopRequested() || FlushRequested()) return false;
        const int r = ::poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return true;
        if (fds[0].revents & POLLIN) drainEventFd(outWake_);
        if (StopRequested() || FlushRequested()) return false;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            MarkLineLost(ErrnoToCode(EIO));
            return true;
        }
        if (fds[1].revents & POLLOUT) return true;
    }
}

// The transmit queue is polled at a pace that follows the line rate.
bool TPosixDispatcher::WaitDrained(int32_t n) {
    (void)n;
    for (;;) {
        if (StopRequested() || FlushRequested()) return false;
        int queued = 0;
        if (posix::OutQueue(fd_, queued) != 0 || queued <= 0) return true;
        const int32_t baud = std::max(CurrentBaud(), 50);
        const int64_t us = static_cast<int64_t>(queued) * 10 * 1000000 / baud;
        const int ms = static_cast<int>(std::clamp<int64_t>(us / 1000, 1, 20));
        pollfd wake{outWake_, POLLIN, 0};
        if (::poll(&wake, 1, ms) > 0) drainEventFd(outWake_);
    }
}

int32_t TPosixDispatcher::WriteDevice(const uint8_t* buffer, int32_t n) {
    int32_t done = 0;
    while (done < n) {
        if (StopRequested() || FlushRequested()) return kAbandoned;
        if (LineLostCode() != 0) return n;  // a vanished device drops its output
        const ssize_t r = ::write(fd_, buffer + done, static_cast<size_t>(n - done));
        if (r > 0) {
            done += static_cast<int32_t>(r);
            continue;
        }
        if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitWritable()) return kAbandoned;
            continue;
        }
        if (r < 0) LostBy(errno);
        return n;  // a failed write drops its bytes
    }
    if (!WaitDrained(n)) return kAbandoned;
    return n;
}

int32_t TPosixDispatcher::WriteNow(const uint8_t* buffer, int32_t n) {
    const ssize_t r = ::write(fd_, buffer, static_cast<size_t>(n));
    if (r > 0) return static_cast<int32_t>(r);
    if (r < 0 && errno != EAGAIN && errno != EINTR) LostBy(errno);
    return 0;
}

bool TPosixDispatcher::TransmitDrained() {
    int queued = 0;
    return posix::OutQueue(fd_, queued) == 0 && queued <= 0;
}

int32_t TPosixDispatcher::PurgeDevice(bool input, bool output) {
    if (fd_ < 0) return 0;
    // Nothing queued means nothing to drop. Purging anyway is not harmless: on a
    // pseudo-terminal it discards what the other side has not read yet, bytes that on a
    // real line would already be on the wire.
    if (output && TransmitDrained()) output = false;
    const int e = posix::Flush(fd_, input, output);
    if (e == 0 || LostBy(e)) return 0;
    return ErrnoToCode(e);
}

int32_t TPosixDispatcher::GetDeviceLine(TLineSettings& line) {
    posix::LineParams p;
    const int e = posix::GetLine(fd_, p);
    if (e != 0) return ErrnoToCode(e);
    line.baud = static_cast<int32_t>(p.baud);
    line.dataBits = static_cast<uint16_t>(p.dataBits);
    line.parity = static_cast<TParity>(p.parity);
    line.stopBits = static_cast<uint16_t>(p.stopBits);
    return 0;
}

int32_t TPosixDispatcher::SetDeviceLine(const TLineSettings& line) {
    posix::LineParams p;
    p.baud = static_cast<uint32_t>(line.baud);
    p.dataBits = line.dataBits;
    p.parity = static_cast<int>(line.parity);
    p.stopBits = line.stopBits;
    return ErrnoToCode(posix::SetRawLine(fd_, p));
}

int32_t TPosixDispatcher::SetDeviceModem(bool dtr, bool rts) {
    return ErrnoToCode(posix::SetModemLines(fd_, dtr, rts));
}

// The device is in the wait's set only while it is watched; the set changes only when that
// does, so a pass costs one epoll_wait, no more than any timed sleep. The change is made under
// the lock the close takes, so a device being closed is never put in the set.
void TPosixDispatcher::WatchDevice(bool watch) {
    if ((watch ? fd_.load() : -1) == watchedFd_.load()) return;
    std::lock_guard lock(watchLock_);
    const int fd = watch ? fd_.load() : -1;
    if (fd == watchedFd_) return;
    if (watchedFd_ >= 0) ::epoll_ctl(lineWait_, EPOLL_CTL_DEL, watchedFd_, nullptr);
    watchedFd_ = -1;
    if (fd < 0) return;
    epoll_event data{};
    data.events = EPOLLIN;
    data.data.fd = fd;
    if (::epoll_ctl(lineWait_, EPOLL_CTL_ADD, fd, &data) == 0) watchedFd_ = fd;
}

// A wake is taken first: the close wakes before it closes the device, so a descriptor that
// is gone under the wait never counts as a vanished line.
TLineEvent TPosixDispatcher::WaitLineEvent(bool watchData, std::chrono::milliseconds timeout) {
    WatchDevice(watchData);
    epoll_event ready[2];
    const int r = ::epoll_wait(lineWait_, ready, 2, pollMs(timeout));
    if (r <= 0) return TLineEvent::Wake;
    bool woken = false;
    uint32_t device = 0;
    for (int i = 0; i < r; ++i) {
        if (ready[i].data.fd == comWake_)
            woken = true;
        else
            device = ready[i].events;
    }
    if (woken) {
        drainEventFd(comWake_);
        return (device & EPOLLIN) && !StopRequested() ? TLineEvent::Data : TLineEvent::Wake;
    }
    if (device & (EPOLLHUP | EPOLLERR)) {
        MarkLineLost(ErrnoToCode(EIO));
        return TLineEvent::Lost;
    }
    return (device & EPOLLIN) ? TLineEvent::Data : TLineEvent::Wake;
}

void TPosixDispatcher::WakeWatcher() {
    signalEventFd(comWake_);
}

void TPosixDispatcher::WakeWriter() {
    signalEventFd(outWake_);
}

}  // namespace swb808
