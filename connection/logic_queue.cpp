#include "connection/logic_queue.h"

#include <algorithm>
#include <exception>

namespace swb808 {

// One delivered or posted handler; shared with a waiting Deliver, so a late run (after the
// wait timed out) still finds it intact.
struct TLogicQueue::Call {
    std::function<void()> handler;
    bool waited = false;  // a Deliver waits for it
    bool started = false;
    bool done = false;
    bool cancelled = false;
};

struct TLogicQueue::Timer {
    TimerId id = 0;
    std::chrono::milliseconds period{0};
    Clock::time_point due;
    std::function<void()> tick;
    bool running = false;
    bool stopped = false;
};

namespace {

void RunReporting(const std::function<void()>& handler) {
    try {
        if (handler) handler();
    } catch (const std::exception& e) {
        ReportHandlerError(e.what());
    } catch (...) {
        ReportHandlerError("Unknown exception");
    }
}

}  // namespace

TLogicQueue::TLogicQueue() : owner_(std::this_thread::get_id()) {}

TLogicQueue::~TLogicQueue() {
    std::lock_guard lock(mutex_);
    for (const auto& call : queue_)
        if (!call->started) call->cancelled = call->done = true;
    queue_.clear();
    wake_.notify_all();
}

bool TLogicQueue::Deliver(std::function<void()> handler, std::chrono::milliseconds timeout) {
    if (OnOwnerThread()) {
        RunReporting(handler);
        return true;
    }
    auto call = std::make_shared<Call>();
    call->handler = std::move(handler);
    call->waited = true;
    std::unique_lock lock(mutex_);
    queue_.push_back(call);
    wake_.notify_all();
    return wake_.wait_for(lock, timeout, [&] { return call->done; }) && !call->cancelled;
}

void TLogicQueue::Post(std::function<void()> handler) {
    auto call = std::make_shared<Call>();
    call->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
    wake_.notify_all();
}

void TLogicQueue::CancelPending() {
    std::lock_guard lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end();) {
        if ((*it)->waited && !(*it)->started) {
            (*it)->cancelled = (*it)->done = true;
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    wake_.notify_all();
}

int TLogicQueue::ProcessPending() {
    int ran = 0;
    // Only what was queued before the call: a handler that posts again does not keep this
    // turn going for ever.
    size_t count;
    {
        std::lock_guard lock(mutex_);
        count = queue_.size();
    }
    for (; count > 0; --count) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            call = std::move(queue_.front());
            queue_.pop_front();
            call->started = true;
        }
        RunReporting(call->handler);
        ++ran;
        {
            std::lock_guard lock(mutex_);
            call->done = true;
        }
        wake_.notify_all();
    }
    return ran + RunDueTimers();
}

int TLogicQueue::RunDueTimers() {
    int ran = 0;
    const auto now = Clock::now();
    // A copy: a tick may start or stop timers.
    const auto timers = timers_;
    for (const auto& timer : timers) {
        if (timer->stopped || timer->running || timer->due > now) continue;
        // Ticks missed while the thread was busy are not made up.
        timer->due = std::max(timer->due + timer->period, now);
        timer->running = true;
        RunReporting(timer->tick);
        timer->running = false;
        ++ran;
    }
    return ran;
}

int TLogicQueue::WaitAndProcess(std::chrono::milliseconds most) {
    auto until = Clock::now() + most;
    for (const auto& timer : timers_)
        if (!timer->stopped && !timer->running) until = std::min(until, timer->due);
    {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, until, [&] { return !queue_.empty() || woken_; });
        woken_ = false;
    }
    return ProcessPending();
}

void TLogicQueue::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    wake_.notify_all();
}

TLogicQueue::TimerId TLogicQueue::StartTimer(std::chrono::milliseconds period,
                                             std::function<void()> tick) {
    auto timer = std::make_shared<Timer>();
    timer->id = nextTimer_++;
    timer->period = std::max(period, std::chrono::milliseconds(1));
    timer->due = Clock::now() + timer->period;
    timer->tick = std::move(tick);
    timers_.push_back(timer);
    return timer->id;
}

void TLogicQueue::StopTimer(TimerId id) {
    for (const auto& timer : timers_)
        if (timer->id == id) timer->stopped = true;
    std::erase_if(timers_, [id](const auto& t) { return t->id == id; });
}

EventPump TLogicQueue::Pump() {
    // Weak: a pump left installed after the queue is gone does nothing.
    return [weak = weak_from_this()] {
        if (auto queue = weak.lock()) queue->ProcessPending();
    };
}

}  // namespace swb808
