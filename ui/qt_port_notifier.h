#pragma once

// Runs a serial port's notifications on the Qt thread this object lives on (the UI thread):
// the dispatch thread posts an event here and waits, at most its time limit, for the handler
// to return. Posted events are also handled inside nested processEvents() calls, so
// handlers run within PacedWait as well.
//
//     auto notifier = swb808::TQtPortNotifier::AttachTo(port);   // on the UI thread
//
// Create it without a parent (it is shared with the port); it must live on the UI thread.

#include <QObject>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/notification_target.h"

namespace swb808 {

class TSerialPort;

class TQtPortNotifier : public QObject, public TNotificationTarget {
  public:
    TQtPortNotifier();
    ~TQtPortNotifier() override;

    // Creates a notifier on the calling thread and installs it on `port`.
    static std::shared_ptr<TQtPortNotifier> AttachTo(TSerialPort& port);

    bool Deliver(std::function<void()> handler, std::chrono::milliseconds timeout) override;
    void Post(std::function<void()> handler) override;
    void CancelPending() override;

    struct Call;  // one handler call, shared with its posted event

  protected:
    bool event(QEvent* e) override;

  private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<Call>> waiting_;  // Deliver calls not yet taken up
};

}  // namespace swb808
