#include "ui/qt_port_notifier.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "serial/serial_port.h"

namespace swb808 {

// One handler call; shared between the waiting dispatch thread and the posted event, so a
// late handler (after the wait timed out) still finds it intact.
struct TQtPortNotifier::Call {
    std::function<void()> handler;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool started = false;
    bool cancelled = false;
};

namespace {

using Call = TQtPortNotifier::Call;

QEvent::Type callEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Qt's event queue is not instrumented, so ThreadSanitizer cannot see that posting an event
// publishes it to the receiving thread; tell it so.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
void published(void* p) {
    __tsan_release(p);
}
void received(void* p) {
    __tsan_acquire(p);
}
#else
void published(void*) {}
void received(void*) {}
#endif

void post(QObject* receiver, QEvent* e) {
    published(e);
    QCoreApplication::postEvent(receiver, e);
}

class CallEvent : public QEvent {
  public:
    explicit CallEvent(std::shared_ptr<Call> c) : QEvent(callEventType()), call(std::move(c)) {}
    std::shared_ptr<Call> call;
};

}  // namespace

TQtPortNotifier::TQtPortNotifier() = default;

TQtPortNotifier::~TQtPortNotifier() = default;

std::shared_ptr<TQtPortNotifier> TQtPortNotifier::AttachTo(TSerialPort& port) {
    auto notifier = std::make_shared<TQtPortNotifier>();
    port.SetNotificationTarget(notifier);
    return notifier;
}

bool TQtPortNotifier::Deliver(std::function<void()> handler, std::chrono::milliseconds timeout) {
    if (QThread::currentThread() == thread()) {  // already on the UI thread
        handler();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->handler = std::move(handler);
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(call);
    }
    post(this, new CallEvent(call));
    bool done;
    {
        std::unique_lock lock(call->mutex);
        done = call->cv.wait_for(lock, timeout, [&] { return call->done; });
    }
    std::lock_guard lock(mutex_);
    std::erase(waiting_, call);
    return done;
}

void TQtPortNotifier::Post(std::function<void()> handler) {
    auto call = std::make_shared<Call>();
    call->handler = std::move(handler);
    post(this, new CallEvent(std::move(call)));
}

void TQtPortNotifier::CancelPending() {
    std::lock_guard lock(mutex_);
    for (const auto& call : waiting_) {
        {
            std::lock_guard callLock(call->mutex);
            if (call->done || call->started) continue;
            call->cancelled = call->done = true;
        }
        call->cv.notify_all();
    }
}

bool TQtPortNotifier::event(QEvent* e) {
    received(e);
    if (e->type() != callEventType()) return QObject::event(e);
    const auto call = static_cast<CallEvent*>(e)->call;
    {
        std::lock_guard lock(call->mutex);
        if (call->cancelled) return true;
        call->started = true;
    }
    // The port's handler catches what its event handlers raise; nothing may cross Qt here.
    try {
        if (call->handler) call->handler();
    } catch (...) {
    }
    {
        std::lock_guard lock(call->mutex);
        call->done = true;
    }
    call->cv.notify_all();
    return true;
}

}  // namespace swb808
