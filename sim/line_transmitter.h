#pragma once

// Sends the board's bytes into the pseudo-terminal as a UART would put them on the wire: each
// byte is delivered when its tenth bit time (start, 8 data, stop) has passed, on a deadline
// schedule so that the average stays exact at high rates. Bytes sent while the program's side
// is set to another rate reach it garbled.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/pseudo_terminal.h"

namespace swb808::sim {

class LineTransmitter {
  public:
    enum class Delivery { Clean, Garbled, Lost };  // Lost: the program had the port closed
    // Called on the transmit thread with the bytes as they went onto the line.
    using SentHook =
        std::function<void(const std::vector<uint8_t>& wire, unsigned rate, Delivery delivery)>;

    LineTransmitter(PseudoTerminal& line, SentHook onSent);
    ~LineTransmitter();
    LineTransmitter(const LineTransmitter&) = delete;
    LineTransmitter& operator=(const LineTransmitter&) = delete;

    void Start();
    // Drops whatever is still queued and joins the thread; returns within about 50 ms.
    void Stop();

    void Send(std::vector<uint8_t> bytes, unsigned rate);
    void SetPacing(bool on) { pacing_ = on; }
    bool Pacing() const { return pacing_; }
    // True once every queued byte has been handed to the pseudo-terminal.
    bool WaitIdle(std::chrono::milliseconds timeout);

    // What a byte looks like to a receiver set to another rate: never a framing byte, never a
    // bootloader answer.
    static uint8_t Garble(uint8_t b) { return static_cast<uint8_t>(0xF0 | (b & 0x0F)); }

  private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        unsigned rate;
    };
    void Run();
    void Transmit(const Chunk& chunk);
    bool WriteNow(const uint8_t* data, size_t n, unsigned rate);

    PseudoTerminal& line_;
    SentHook onSent_;
    std::atomic<bool> pacing_{true};
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Chunk> queue_;
    bool busy_ = false;
    std::chrono::steady_clock::time_point lineFree_{};  // transmit thread only
    std::thread thread_;
};

}  // namespace swb808::sim
