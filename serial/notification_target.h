#pragma once

// How the dispatch thread hands a notification to the logic thread. Qt-free; the window
// installs a Qt implementation (ui/qt_port_notifier.h) on its port, a plain logic thread a
// TLogicQueue (connection/logic_queue.h), with TSerialPort::SetNotificationTarget.

#include <chrono>
#include <functional>
#include <string>

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

    // Called on the logic thread while no delivered handler runs there (a close): pending
    // Deliver calls return at once and their handlers never run. Without it, such a close
    // waits for the pending handler like a close from inside one.
    virtual void CancelPending() {}
};

// Where exceptions that escape a notification handler go (the application's error display);
// by default they are written to stderr. Per logic thread: set on the thread whose handlers
// it reports; returns that thread's previous reporter.
using THandlerErrorReporter = std::function<void(const std::string& message)>;
THandlerErrorReporter SetHandlerErrorReporter(THandlerErrorReporter reporter);
void ReportHandlerError(const std::string& message);

}  // namespace swb808
