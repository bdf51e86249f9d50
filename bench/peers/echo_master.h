#pragma once

// The board's side of the benchmark line, on the pseudo-terminal's master: answers every
// 7-byte request at once with the reply it asks for, and sends bursts.
//
// Request: [sequence, reply length, 5 filler bytes]. Reply byte i of sequence s is
// ReplyByte(s, i), so the receiver can check every byte.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace swb808::bench {

inline constexpr size_t kRequestSize = 7;

inline uint8_t ReplyByte(uint8_t sequence, size_t i) {
    return static_cast<uint8_t>(sequence * 31u + i * 7u + 1u);
}

// The burst content: no short period, so a dropped or repeated block shows.
std::vector<uint8_t> BurstPattern(size_t n);

class EchoMaster {
  public:
    explicit EchoMaster(int masterFd);
    ~EchoMaster();
    EchoMaster(const EchoMaster&) = delete;
    EchoMaster& operator=(const EchoMaster&) = delete;

    // Writes all of `bytes` to the master from the calling thread; false after 20 s.
    bool WriteAll(const std::vector<uint8_t>& bytes) const;
    // Requests that were not 7 well-formed bytes.
    uint64_t BadRequests() const { return bad_.load(); }
    // When the last request was complete on the master, and when its reply was written
    // (steady clock, nanoseconds).
    int64_t RequestSeenNs() const { return requestSeen_.load(); }
    int64_t ReplySentNs() const { return replySent_.load(); }

  private:
    void Run();

    const int master_;
    int stop_ = -1;  // eventfd
    std::atomic<uint64_t> bad_{0};
    std::atomic<int64_t> requestSeen_{0};
    std::atomic<int64_t> replySent_{0};
    std::thread thread_;
};

}  // namespace swb808::bench
