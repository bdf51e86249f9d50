#pragma once

// One of the tool's standard streams, written so that a reader who never reads cannot hold
// the tool: writes go through a non-blocking handle of their own and wait in short polls,
// asking between them whether to give up (a signal came). A closed stream at start is held
// by /dev/null, so that no port or file the tool opens later lands on it.

#include <functional>
#include <string_view>

namespace swb808::cli {

// Puts /dev/null on every closed standard stream (0, 1, 2). Call first in main; returns for
// each of 1 and 2 whether it was closed.
struct ClosedStreams {
    bool out = false;
    bool err = false;
};
ClosedStreams GuardStandardStreams();

class StreamSink {
  public:
    enum class Result { Written, Broken, Failed, GaveUp };

    // `closedAtStart`: every write fails with EBADF.
    StreamSink(int fd, bool closedAtStart);
    ~StreamSink();
    StreamSink(const StreamSink&) = delete;
    StreamSink& operator=(const StreamSink&) = delete;

    // All of `text`, or Broken (the reader has gone: EPIPE), Failed (any other error, see
    // Errno) or GaveUp (`giveUp` said so while the stream was full).
    Result Write(std::string_view text, const std::function<bool()>& giveUp);
    // True when the stream is a pipe whose reader has gone, seen without writing.
    bool ReaderGone() const;
    int Errno() const { return errno_; }

  private:
    int fd_;       // the standard stream itself
    int writeFd_;  // what is written to: a non-blocking twin when one could be made
    bool twin_ = false;
    bool socket_ = false;
    bool pipe_ = false;
    bool closed_;
    int errno_ = 0;
};

}  // namespace swb808::cli
