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

// The dispatch thread waits for the line itself, so a line event costs no hand-over between
// threads. This thread keeps its place in the open and the close and waits for the stop.
void TComThread::Execute(TBaseDispatcher& d) {
    d.ThreadStarted();
    d.ack_.Set();
    d.stopSeen_.Wait();
    d.ThreadEnded();
}

// Runs a pass at every line event and at least every 50 ms. With a full ring the device is
// not watched (a read that makes room wakes the wait), nor is a vanished one. While the caller
// takes the bytes in itself and no pass can raise anything, an event is not followed by more
// until the periodic pass: the caller's counts read the device anyway, and a second reader
// would only contend with it for the bytes and the lock.
void TDispThread::Execute(TBaseDispatcher& d) {
    d.ThreadStarted();
    d.ack_.Set();
    int emptyEvents = 0;
    bool backOff = false;
    while (!d.stop_.load()) {
        // A device that keeps reporting data but gives none must not turn this into a busy
        // loop: after two such events it is left alone for 10 ms.
        const bool pause = emptyEvents >= 2;
        const bool watch = d.lineLost_.load() == 0 && d.HasReceiveRoom() && !backOff && !pause;
        const uint64_t filled = d.rxFilled_.load();
        const uint64_t tookIn = d.callerTookIn_.load();
        const TLineEvent event = d.WaitLineEvent(watch, pause ? 10ms : kDispatchPeriod);
        d.DispatchWoken();
        if (d.stop_.load()) break;
        d.DispatchPass(event == TLineEvent::Data || !watch);
        const bool data = watch && event == TLineEvent::Data;
        backOff = data && !d.passUseful_.load() && d.callerTookIn_.load() != tookIn;
        // Bytes count whoever took them in: a caller's read may come first.
        emptyEvents = data && d.rxFilled_.load() == filled ? emptyEvents + 1 : 0;
    }
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
