#pragma once

// The device layer on POSIX serial devices: flock'ed exclusive open, termios2 line settings,
// epoll for line events, eventfds to wake the threads.

#include <atomic>
#include <mutex>
#include <string>

#include "serial/base_dispatcher.h"

namespace swb808 {

class TPosixDispatcher : public TBaseDispatcher {
  public:
    explicit TPosixDispatcher(TSerialPort* port) : TBaseDispatcher(port) {}
    ~TPosixDispatcher() override;

    // open(2) and flock, unless another program holds the device in any of the ways terminal
    // programs use (the lock, TIOCEXCL, a live lock file): then the device is closed again
    // untouched and the result is "already open". Returns the fd or a negative code.
    static int32_t OpenUnlessHeld(const std::string& path);

  protected:
    int32_t CreateSignals() override;
    void CloseSignals() override;
    int32_t OpenDevice(const std::string& path) override;
    void CloseDevice() override;
    bool DeviceOpen() const override { return fd_.load() >= 0; }
    int32_t ReadDevice(uint8_t* buffer, int32_t n) override;
    int32_t WriteDevice(const uint8_t* buffer, int32_t n) override;
    int32_t WriteNow(const uint8_t* buffer, int32_t n) override;
    bool TransmitDrained() override;
    int32_t PurgeDevice(bool input, bool output) override;
    int32_t GetDeviceLine(TLineSettings& line) override;
    int32_t SetDeviceLine(const TLineSettings& line) override;
    int32_t SetDeviceModem(bool dtr, bool rts) override;
    TLineEvent WaitLineEvent(bool watchData, std::chrono::milliseconds timeout) override;
    void WakeWatcher() override;
    void WakeWriter() override;

  private:
    bool LostBy(int e);           // marks the line lost for errno values of a vanished device
    bool WaitWritable();          // false when told to flush or stop
    bool WaitDrained(int32_t n);  // false when told to flush or stop
    void WatchDevice(bool watch);  // dispatch thread only: the device in the wait's set or not

    std::atomic<int> fd_{-1};  // also read by the dispatch thread's wait, which the close wakes
    std::string lockFile_;     // ours while the device is open; "" when none could be made
    int comWake_ = -1;         // eventfd: wakes the dispatch thread's wait
    int lineWait_ = -1;        // epoll set of the dispatch thread's wait: comWake_, the device
    std::mutex watchLock_;               // the device entering or leaving lineWait_
    std::atomic<int> watchedFd_{-1};     // the device fd in lineWait_, or -1
    int outWake_ = -1;         // eventfd: wakes TOutThread
};

}  // namespace swb808
