#pragma once

// One way of driving the program's end of a serial line, so that the port object and its
// peers run the same measurements. Each link waits in the way its library intends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace swb808::bench {

using Clock = std::chrono::steady_clock;

class PeerLink {
  public:
    virtual ~PeerLink() = default;
    virtual std::string Name() const = 0;
    virtual std::string WaitStyle() const = 0;
    virtual std::string IdleStyle() const = 0;
    // Opens `device` at 115200 Bd 8N1 without flow control; false (with a message on
    // stderr) when the library refuses.
    virtual bool Open(const std::string& device) = 0;
    virtual void Close() = 0;
    virtual bool Send(const uint8_t* data, size_t n, Clock::time_point deadline) = 0;
    // Takes exactly n bytes, or fails at the deadline.
    virtual bool Receive(uint8_t* data, size_t n, Clock::time_point deadline) = 0;
    // Keeps the open port idle for `span` the way a program using the library would.
    virtual void Idle(std::chrono::milliseconds span) = 0;
};

enum class OurWait { Yield, Sleep20us, Paced10ms };

// `comNumber` is the port number the device is linked as (SWB808_PORT_DIR).
std::unique_ptr<PeerLink> MakeOurLink(int comNumber, OurWait wait);
std::unique_ptr<PeerLink> MakeRawLink();
#ifdef SWB808_BENCH_QSERIALPORT
std::unique_ptr<PeerLink> MakeQtLink();
#endif
#ifdef SWB808_BENCH_LIBSERIALPORT
std::unique_ptr<PeerLink> MakeSpLink();
#endif

}  // namespace swb808::bench
