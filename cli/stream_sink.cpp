#include "cli/stream_sink.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace swb808::cli {

namespace {

constexpr int kPollTurnMs = 10;

bool IsClosed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

}  // namespace

ClosedStreams GuardStandardStreams() {
    bool closed[3] = {};
    for (int fd = 0; fd < 3; ++fd) {
        if (!IsClosed(fd)) continue;
        closed[fd] = true;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return {closed[1], closed[2]};
}

StreamSink::StreamSink(int fd, bool closedAtStart) : fd_(fd), writeFd_(fd), closed_(closedAtStart) {
    struct stat st {};
    if (closed_ || ::fstat(fd, &st) != 0) return;
    socket_ = S_ISSOCK(st.st_mode);
    pipe_ = S_ISFIFO(st.st_mode);
    // O_NONBLOCK on the inherited description would change it for the shell and every other
    // program sharing it: a second description of the same pipe or terminal carries it alone.
    if (pipe_ || S_ISCHR(st.st_mode)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const int twin = ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (twin >= 0) {
            writeFd_ = twin;
            twin_ = true;
        }
    }
}

StreamSink::~StreamSink() {
    if (twin_) ::close(writeFd_);
}

StreamSink::Result StreamSink::Write(std::string_view text, const std::function<bool()>& giveUp) {
    if (closed_) {
        errno_ = EBADF;
        return Result::Failed;
    }
    // Without a non-blocking handle only what fits at once is written after a poll; a
    // signal (handled without SA_RESTART) still ends a write that blocks.
    const bool mayBlock = !twin_ && !socket_;
    while (!text.empty()) {
        if (mayBlock && pipe_) {
            pollfd p{writeFd_, POLLOUT, 0};
            if (::poll(&p, 1, kPollTurnMs) == 0) {
                if (giveUp()) return Result::GaveUp;
                continue;
            }
        }
        const size_t chunk = mayBlock ? std::min<size_t>(text.size(), PIPE_BUF) : text.size();
        const ssize_t n = socket_
                              ? ::send(writeFd_, text.data(), chunk, MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(writeFd_, text.data(), chunk);
        if (n >= 0) {
            text.remove_prefix(size_t(n));
            continue;
        }
        if (errno == EAGAIN || errno == EINTR) {
            if (giveUp()) return Result::GaveUp;
            pollfd p{writeFd_, POLLOUT, 0};
            ::poll(&p, 1, kPollTurnMs);
            continue;
        }
        errno_ = errno;
        return errno == EPIPE ? Result::Broken : Result::Failed;
    }
    return Result::Written;
}

bool StreamSink::ReaderGone() const {
    if (!pipe_) return false;
    pollfd p{fd_, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

}  // namespace swb808::cli
