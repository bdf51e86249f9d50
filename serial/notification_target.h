#pragma once

// How the dispatch thread hands a notification to the logic (UI) thread. Qt-free; the window
// installs a Qt implementation (ui/qt_port_notifier.h) on its port with
// TSerialPort::SetNotificationTarget.

#include <chrono>
#include <functional>

namespace swb808 {

class TNotificationTarget {
  public:
    virtual ~TNotificationTarget() = default;

    // Called on the dispatch thread. Runs `handler` on the logic thread (also inside nested
    // event processing there) and waits until it has returned, at most `timeout`. Returns
    // false when the wait timed out; the handler then still runs when the logic thread next
    // processes events.
    virtual bool Deliver(std::function<void()> handler, std::chrono::milliseconds timeout) = 0;

    // Called on the logic thread: queues `handler` to run there later, without waiting.
    virtual void Post(std::function<void()> handler) = 0;
};

}  // namespace swb808
