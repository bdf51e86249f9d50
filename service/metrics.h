#pragma once

// The counters /metrics shows, in Prometheus' text format. Any thread updates them.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace swb808::service {

class Metrics {
  public:
    // A board command ended: its result ("ok", "offline", "busy", "timeout", "error", ...)
    // and how long it took from its arrival to its answer.
    void CommandDone(const std::string& result, std::chrono::microseconds latency);
    void InputEvent() { inputEvents_.fetch_add(1, std::memory_order_relaxed); }
    void ClientConnected() { clients_.fetch_add(1, std::memory_order_relaxed); }
    void ClientGone() { clients_.fetch_sub(1, std::memory_order_relaxed); }
    void EventClientConnected() { eventClients_.fetch_add(1, std::memory_order_relaxed); }
    void EventClientGone() { eventClients_.fetch_sub(1, std::memory_order_relaxed); }

    // `boardsUp`: per board id, whether it is online now.
    std::string Render(const std::map<std::string, bool>& boardsUp) const;

  private:
    // Upper bounds in seconds; the wire alone takes some milliseconds per command.
    static constexpr std::array<double, 10> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025,
                                                        0.05,  0.1,    0.25,  1.0,  5.0};
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t> commands_;
    std::array<uint64_t, kBuckets.size()> bucketCounts_{};
    uint64_t latencyCount_ = 0;
    double latencySum_ = 0;
    std::atomic<uint64_t> inputEvents_{0};
    std::atomic<int64_t> clients_{0};
    std::atomic<int64_t> eventClients_{0};
};

}  // namespace swb808::service
