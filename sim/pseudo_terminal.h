#pragma once

// The board's end of a serial line: the master side of a pseudo-terminal whose other side
// (the slave device) the program opens as its COM port.
//
// Threads: one owner thread; Write and Read may run on different threads at once. A thread
// of its own finds out who holds the slave.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace swb808::sim {

class PseudoTerminal {
  public:
    // Opens a new pseudo-terminal. The slave side starts raw (no echo, no line editing), as a
    // serial device does; the program sets its own line settings on it.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    bool IsOpen() const { return master_ >= 0; }

    // Makes `path` a symbolic link to the slave device (replacing an old link); the link is
    // removed again by the destructor or by Close.
    void LinkAs(const std::string& path);

    // Waits up to `timeout` for bytes from the program and returns what is there (possibly none).
    std::vector<uint8_t> Read(std::chrono::milliseconds timeout, size_t max = 4096);
    // Collects exactly `n` bytes or fewer when `timeout` runs out first.
    std::vector<uint8_t> ReadExactly(size_t n, std::chrono::milliseconds timeout);
    // Writes all bytes (waiting for room as needed, at most `timeout`); false if that failed.
    bool Write(const std::vector<uint8_t>& bytes,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // The line rate the program set on its side (read from the master), 0 if unknown.
    unsigned LineRate() const;

    // Whether any program has the slave open now. The device's open and close notifications
    // only say when to look; who holds it is then read from /proc. When the last one has gone
    // the line is left as a serial port is after its last close: what it left unread is
    // flushed, so it does not greet the next open, and exclusive mode (TIOCEXCL) is cleared,
    // also after a program that was killed.
    bool PeerOpen();

    // Every open and close of the slave by others as the device notified them (ones that came
    // close together may be merged), in order, with the time they were seen; taken out by the
    // caller. Kept up to date by ReadNotifications (cheap) and PeerOpen, which are worth
    // calling as soon as WatchFd() (or -1 without inotify) becomes readable, so that the times
    // are close.
    struct PeerChange {
        std::chrono::steady_clock::time_point time;
        bool opened = false;
    };
    std::vector<PeerChange> TakePeerChanges();
    int WatchFd() const { return watch_; }

    // The device vanishes: the link is removed and both sides are closed, so the program's
    // open descriptor hangs up (as when a USB adapter is pulled out).
    void Close();

    void ReadNotifications();

  private:
    void ReadNotificationsLocked();
    void Look();
    bool HeldByOthers() const;
    void LastClosed(std::chrono::steady_clock::time_point seen);

    int master_ = -1;
    int slaveHold_ = -1;  // keeps the line from hanging up while the program has it closed
    int watch_ = -1;      // inotify descriptor on the slave device
    std::mutex peerMu_;
    bool peerOpen_ = false;
    bool lookDue_ = false;  // notifications came since /proc was last read
    uint64_t notifications_ = 0;
    bool stopLooking_ = false;
    bool looking_ = false;
    std::condition_variable lookCv_;
    std::condition_variable lookedCv_;
    std::thread looker_;        // reads /proc when told
    bool lastWasOpen_ = false;  // the last notification was an open
    // After a last close that came soon after an open, /proc is read again for a while: an
    // opener's descriptor appears just after its notification, so it may have been missed.
    std::chrono::steady_clock::time_point lastOpenRead_{};
    std::chrono::steady_clock::time_point recheckUntil_{};
    std::chrono::steady_clock::time_point nextRecheck_{};
    std::deque<PeerChange> changes_;  // bounded: a caller that never takes them loses the oldest
    std::string slavePath_;
    std::string link_;
};

}  // namespace swb808::sim
