#pragma once

// The one event type for everything a front end reports live: the window's LEDs and
// messages, `watch --json` and the service's event stream all show it.
//
// Events are published on the board's owner thread, also nested inside a running call (an
// input change during a relay write's drain). A subscriber runs there and must not block or
// call the board; one that serves another thread copies the event onto that thread's queue.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "connection/port_ref.h"

namespace swb808 {

enum class BoardEventKind : uint8_t {
    InputChange,    // inputs: the board reported new inputs (or a read returned them)
    RelayChange,    // relays: the state written (asked for) or read back
    Connected,      // a board answered the query: relays, inputs, supplyRaw, version
    Lost,           // the line vanished; message says where
    FoundAgain,     // after a reset the same board answered again (version, baud)
    Disconnected,   // the program let the board go (close, reset, end of a transfer)
    FlashProgress,  // blocksDone of blockCount confirmed
    FlashResult,    // the transfer ended: blocksDone, message (empty when complete)
};

// "input_change", "relay_change", ...: stable names for JSON.
const char* EventKindName(BoardEventKind kind);

struct BoardEvent {
    uint64_t seq = 0;  // per board, from 1, in publishing order
    std::chrono::system_clock::time_point time;
    BoardEventKind kind = BoardEventKind::InputChange;
    std::string board;  // the board's identity key ("" before a board answered)
    PortRef port;
    int32_t baud = 0;
    // Values, set as the kind says (the others hold the board's last known values).
    uint8_t relays = 0;
    uint8_t inputs = 0;
    int32_t supplyRaw = 0;
    int blocksDone = 0;
    int blockCount = 0;
    std::string oldVersion;  // FlashResult / FoundAgain: the firmware before, UTF-8
    std::string newVersion;  // Connected / FoundAgain: the firmware now; FlashResult: the image's
    std::string message;     // Lost: the operator's text; FlashResult: the failure text
};

// Publishes events to subscribers. Publish runs on the owner thread only; Subscribe and a
// subscription's Reset may come from any thread (a Reset during a running callback lets that
// call finish). Seq and time are set here.
class BoardEvents {
  public:
    using Callback = std::function<void(const BoardEvent&)>;

    // Ends the subscription when destroyed (or on Reset()); safe after the hub is gone and
    // from inside the callback itself.
    class Subscription {
      public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&&) noexcept = default;
        ~Subscription() { Reset(); }
        void Reset();
        explicit operator bool() const { return slot_ != nullptr; }

      private:
        friend class BoardEvents;
        std::shared_ptr<Callback> slot_;  // the hub holds it weakly
    };

    [[nodiscard]] Subscription Subscribe(Callback callback);
    // Fills seq and time, then calls every subscriber in the order they subscribed.
    void Publish(BoardEvent event);
    uint64_t LastSeq() const { return seq_.load(); }

  private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<Callback>> slots_;  // under mutex_
    std::atomic<uint64_t> seq_{0};
};

}  // namespace swb808
