#pragma once

// A logic thread without Qt: the queue that a serial port's notifications are delivered to,
// plus the periodic timers of a session (the line check). The thread that owns it runs what
// is queued in ProcessPending(), which is also its PacedWait pump, so notifications and
// timers run nested inside waits exactly as posted Qt events do in the window.
//
//     std::thread([&] {
//         auto queue = std::make_shared<TLogicQueue>();   // owned by this thread
//         ScopedEventPump pump(queue->Pump());
//         BoardSession session(view);
//         session.AttachTo(queue);                       // notifications + line check
//         session.Scan(request);
//         while (!done) queue->WaitAndProcess(100ms);     // idle: only handlers run
//     });

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/paced_wait.h"
#include "serial/notification_target.h"

namespace swb808 {

class TLogicQueue : public TNotificationTarget, public std::enable_shared_from_this<TLogicQueue> {
  public:
    using Clock = std::chrono::steady_clock;
    using TimerId = uint32_t;

    // The constructing thread becomes the owner: the only one that runs handlers.
    TLogicQueue();
    ~TLogicQueue() override;  // pending Deliver calls return (false) at once
    TLogicQueue(const TLogicQueue&) = delete;
    TLogicQueue& operator=(const TLogicQueue&) = delete;

    // Any thread. On the owner it runs `handler` at once; elsewhere it queues it and waits
    // until the owner has run it, at most `timeout` (false then; the handler still runs at
    // the owner's next ProcessPending unless cancelled).
    bool Deliver(std::function<void()> handler, std::chrono::milliseconds timeout) override;
    // Any thread: queues `handler` for the owner, without waiting.
    void Post(std::function<void()> handler) override;
    // Owner: queued Deliver calls that have not started return at once and never run.
    void CancelPending() override;

    // Owner: runs every handler queued before the call and every timer that is due, in
    // order; an exception a handler lets escape goes to ReportHandlerError. May be called
    // nested from inside a handler (a wait); a timer never runs nested inside itself.
    // Returns how many handlers and timer ticks ran.
    int ProcessPending();
    // Owner: sleeps until something is queued, a timer is due, Wake() is called or `most`
    // has passed, then processes what is pending. For a thread's idle loop.
    int WaitAndProcess(std::chrono::milliseconds most);
    // Any thread: ends a WaitAndProcess early.
    void Wake();

    // Owner: calls `tick` every `period` from ProcessPending (the first time one period
    // from now). Ticks that fell due while the owner was busy run once, not once each.
    TimerId StartTimer(std::chrono::milliseconds period, std::function<void()> tick);
    void StopTimer(TimerId id);

    // The pump to install with ScopedEventPump on the owner thread.
    EventPump Pump();

    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  private:
    struct Call;
    struct Timer;
    int RunDueTimers();

    const std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Call>> queue_;
    bool woken_ = false;
    // Timers: owner thread only.
    std::vector<std::shared_ptr<Timer>> timers_;
    TimerId nextTimer_ = 1;
};

}  // namespace swb808
