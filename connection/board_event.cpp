#include "connection/board_event.h"

#include <algorithm>

namespace swb808 {

const char* EventKindName(BoardEventKind kind) {
    switch (kind) {
        case BoardEventKind::InputChange:
            return "input_change";
        case BoardEventKind::RelayChange:
            return "relay_change";
        case BoardEventKind::Connected:
            return "connected";
        case BoardEventKind::Lost:
            return "lost";
        case BoardEventKind::FoundAgain:
            return "found_again";
        case BoardEventKind::Disconnected:
            return "disconnected";
        case BoardEventKind::FlashProgress:
            return "flash_progress";
        case BoardEventKind::FlashResult:
            return "flash_result";
    }
    return "?";
}

void BoardEvents::Subscription::Reset() {
    slot_.reset();
}

BoardEvents::Subscription BoardEvents::Subscribe(Callback callback) {
    Subscription s;
    s.slot_ = std::make_shared<Callback>(std::move(callback));
    const std::lock_guard lock(mutex_);
    slots_.push_back(s.slot_);
    return s;
}

void BoardEvents::Publish(BoardEvent event) {
    event.seq = ++seq_;
    event.time = std::chrono::system_clock::now();
    std::vector<std::shared_ptr<Callback>> live;
    {
        const std::lock_guard lock(mutex_);
        std::erase_if(slots_, [](const auto& slot) { return slot.expired(); });
        for (const auto& slot : slots_)
            if (auto callback = slot.lock()) live.push_back(std::move(callback));
    }
    // Outside the lock: a callback may subscribe or end its own subscription.
    for (const auto& callback : live) (*callback)(event);
}

}  // namespace swb808
