#include "serial/dispatcher_threads.h"

#include <algorithm>
#include <chrono>

#include "serial/base_dispatcher.h"

namespace swb808 {

using namespace std::chrono_literals;

void TComThread::Start(TBaseDispatcher& d) {
    thread_ = std::thread([&d] { Execute(d); });
}
void TDispThread::Start(TBaseDispatcher& d) {
    thread_ = std::thread([&d] { Execute(d); });
}
void TOutThread::Start(TBaseDispatcher& d) {
    thread_ = std::thread([&d] { Execute(d); });
}

// Watches the line. Each event is handed to the dispatch thread, and the next wait starts
// only once a pass that began after the event has finished. With a full ring the device is
// not watched (the periodic pass refills), and a vanished device is not watched at all.
void TComThread::Execute(TBaseDispatcher& d) {
    d.ThreadStarted();
    d.ack_.Set();
    int emptyEvents = 0;
    while (!d.stop_.load()) {
        const bool alive = d.lineLost_.load() == 0;
        const bool watch = alive && d.HasReceiveRoom();
        const auto timeout = !alive  ? std::chrono::milliseconds(-1)
                             : watch ? std::chrono::milliseconds(-1)
                                     : kDispatchPeriod;
        const uint64_t filled = d.rxFilled_.load();
        const TLineEvent event = d.WaitLineEvent(watch, timeout);
        if (d.stop_.load()) break;
        if (event != TLineEvent::Data) continue;
        const uint64_t before = d.passStarted_.load();
        d.lineEventSeen_.Set();
        while (!d.stop_.load() && d.passDone_.load() <= before) d.dispatchDone_.Wait();
        // A device that keeps reporting data but gives none must not turn this into a busy
        // loop. Bytes count whoever took them in: a caller's read may come first.
        emptyEvents = d.rxFilled_.load() == filled ? emptyEvents + 1 : 0;
        if (emptyEvents >= 2 && !d.stop_.load()) d.WaitLineEvent(false, 10ms);
    }
    d.ThreadEnded();
}

// Runs a pass at every line event and at least every 50 ms.
void TDispThread::Execute(TBaseDispatcher& d) {
    d.ThreadStarted();
    d.ack_.Set();
    while (!d.stop_.load()) {
        d.lineEventSeen_.Wait(kDispatchPeriod);
        if (d.stop_.load()) break;
        d.DispatchPass();
    }
    d.dispatchDone_.Set();
    d.ThreadEnded();
}

// Answers a discard. The ring is emptied here, before the acknowledgement, so no piece this
// thread took before the discard can be taken and sent again after it.
void TOutThread::AcknowledgeFlush(TBaseDispatcher& d) {
    if (!d.flushRequest_.exchange(false)) return;
    {
        std::lock_guard lock(d.sendLock_);
        d.txHead_ = d.txTail_ = 0;
        d.txFull_ = false;
        d.txSent_ = 0;
    }
    d.flushAck_.Set();
}

// Writes SendRing in order. Bytes leave the ring only once the device has sent them, so
// OutputFree() counts them until then; a discard abandons the write in progress.
void TOutThread::Execute(TBaseDispatcher& d) {
    d.ThreadStarted();
    d.ack_.Set();
    while (!d.stop_.load()) {
        d.outputReady_.Wait();
        if (d.stop_.load()) break;
        if (d.flushRequest_.load()) {
            AcknowledgeFlush(d);
            continue;
        }
        for (;;) {
            uint32_t start;
            uint32_t length;
            uint32_t sent;  // already handed to the device by WriteBlock
            {
                std::lock_guard lock(d.sendLock_);
                if (!d.txFull_ && d.txHead_ == d.txTail_) break;
                start = d.txTail_;
                length = (d.txFull_ || d.txHead_ <= d.txTail_) ? d.outSize_ - d.txTail_
                                                               : d.txHead_ - d.txTail_;
                sent = std::min(d.txSent_, length);
                d.txSent_ = 0;
            }
            const int32_t r = d.WriteDevice(d.sendRing_.data() + start + sent,
                                            static_cast<int32_t>(length - sent));
            if (r == TBaseDispatcher::kAbandoned) {
                AcknowledgeFlush(d);
                break;
            }
            std::lock_guard lock(d.sendLock_);
            d.txTail_ = (d.txTail_ + length) % d.outSize_;
            if (d.txTail_ == d.txHead_) d.txHead_ = d.txTail_ = 0;
            d.txFull_ = false;
        }
    }
    AcknowledgeFlush(d);
    d.ThreadEnded();
}

}  // namespace swb808
