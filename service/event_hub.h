#pragma once

// Every board's events in one numbered sequence: kept in a ring for replay (an event stream
// that reconnects with Last-Event-ID), and handed to subscribers in the order of their
// numbers. The event stream, and later other bridges, subscribe here.
//
// Threads: any thread publishes and subscribes. Subscribers are called with the hub's lock
// held, in sequence order, on the publishing thread: they must only queue the event and
// return (they must not publish or unsubscribe from the callback).

#include <QJsonObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace swb808::service {

struct HubEvent {
    uint64_t seq = 0;
    std::string type;   // "input", "relays", "online", "offline", "flash", ...
    std::string board;  // the board's id
    QJsonObject data;
    std::string json;  // the whole event as one compact JSON object (seq, time, board, type, data)
};
using HubEventPtr = std::shared_ptr<const HubEvent>;

class EventHub {
  public:
    using Subscriber = std::function<void(const HubEventPtr&)>;

    explicit EventHub(std::size_t ringSize = 4096);

    uint64_t Publish(const std::string& type, const std::string& board, QJsonObject data);

    class Subscription {
      public:
        Subscription() = default;
        Subscription(EventHub* hub, uint64_t id) : hub_(hub), id_(id) {}
        Subscription(Subscription&& o) noexcept : hub_(o.hub_), id_(o.id_) { o.hub_ = nullptr; }
        Subscription& operator=(Subscription&& o) noexcept;
        ~Subscription() { Reset(); }
        void Reset();

      private:
        EventHub* hub_ = nullptr;
        uint64_t id_ = 0;
    };

    struct Replay {
        std::vector<HubEventPtr> events;  // after the given number, oldest first
        bool gap = false;  // the number was not in the ring (too old, or of an earlier run)
    };
    // Subscribes; with `after`, the events numbered above it are returned too, so that no
    // event falls between the replay and the first call of `subscriber`.
    Subscription Subscribe(Subscriber subscriber, std::optional<uint64_t> after = std::nullopt,
                           Replay* replay = nullptr);

    uint64_t LastSeq() const;
    std::size_t Subscribers() const;

  private:
    void Unsubscribe(uint64_t id);

    const std::size_t ringSize_;
    mutable std::mutex mutex_;
    uint64_t seq_ = 0;
    std::deque<HubEventPtr> ring_;
    std::map<uint64_t, Subscriber> subscribers_;
    uint64_t nextId_ = 1;
};

}  // namespace swb808::service
