#include "service/event_hub.h"

#include <QDateTime>
#include <QJsonDocument>

namespace swb808::service {

EventHub::EventHub(std::size_t ringSize) : ringSize_(ringSize) {}

uint64_t EventHub::Publish(const std::string& type, const std::string& board, QJsonObject data) {
    auto event = std::make_shared<HubEvent>();
    event->type = type;
    event->board = board;
    const std::lock_guard lock(mutex_);
    event->seq = ++seq_;
    QJsonObject o = data;
    o["seq"] = qint64(event->seq);
    o["time"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    o["board"] = QString::fromStdString(board);
    o["type"] = QString::fromStdString(type);
    event->json = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
    event->data = std::move(data);
    HubEventPtr shared = std::move(event);
    ring_.push_back(shared);
    if (ring_.size() > ringSize_) ring_.pop_front();
    for (auto& [id, subscriber] : subscribers_) subscriber(shared);
    return shared->seq;
}

EventHub::Subscription EventHub::Subscribe(Subscriber subscriber, std::optional<uint64_t> after,
                                           Replay* replay) {
    const std::lock_guard lock(mutex_);
    if (after && replay) {
        const uint64_t oldest = ring_.empty() ? seq_ + 1 : ring_.front()->seq;
        replay->gap = *after > seq_ || *after + 1 < oldest;
        for (const auto& e : ring_)
            if (replay->gap || e->seq > *after) replay->events.push_back(e);
    }
    const uint64_t id = nextId_++;
    subscribers_.emplace(id, std::move(subscriber));
    return Subscription(this, id);
}

void EventHub::Unsubscribe(uint64_t id) {
    const std::lock_guard lock(mutex_);
    subscribers_.erase(id);
}

uint64_t EventHub::LastSeq() const {
    const std::lock_guard lock(mutex_);
    return seq_;
}

std::size_t EventHub::Subscribers() const {
    const std::lock_guard lock(mutex_);
    return subscribers_.size();
}

EventHub::Subscription& EventHub::Subscription::operator=(Subscription&& o) noexcept {
    if (this != &o) {
        Reset();
        hub_ = o.hub_;
        id_ = o.id_;
        o.hub_ = nullptr;
    }
    return *this;
}

void EventHub::Subscription::Reset() {
    if (hub_) hub_->Unsubscribe(id_);
    hub_ = nullptr;
}

}  // namespace swb808::service
