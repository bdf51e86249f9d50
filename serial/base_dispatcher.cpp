#include "serial/base_dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <thread>

#include "serial/serial_errors.h"

namespace swb808 {

namespace {

constexpr uint32_t kRingMask = kReceiveRingSize - 1;
static_assert((kReceiveRingSize & kRingMask) == 0, "ring size must be a power of two");

// The process-wide dispatcher list. Notifications name their dispatcher by id, so a late one
// (after a delivery timed out and the port was closed) finds nothing instead of a stranger.
std::recursive_mutex& listLock() {
    static std::recursive_mutex lock;
    return lock;
}
std::map<uint32_t, TBaseDispatcher*>& dispatcherList() {
    static std::map<uint32_t, TBaseDispatcher*> list;
    return list;
}
thread_local int handlerDepth = 0;  // per logic thread: a close defers only inside its own

uint32_t registerDispatcher(TBaseDispatcher* d) {
    static uint32_t nextId = 0;
    std::lock_guard lock(listLock());
    const uint32_t id = ++nextId;
    dispatcherList()[id] = d;
    return id;
}

// Settle time before a new rate: 18 characters at `rate`, doubled when below 1 ms.
int settleMs(int32_t rate, const TLineSettings& framing) {
    if (rate <= 0) return 0;
    const int64_t bits =
        framing.dataBits + 2 + (framing.parity != pNone ? 1 : 0) + (framing.stopBits != 1 ? 1 : 0);
    int64_t t = (10000000 / rate) * bits * 18;  // 100 ns units
    if (t < 10000) t *= 2;
    return static_cast<int>((t + 9999) / 10000);
}

TLineSettings normalised(TLineSettings want, const TLineSettings& current) {
    if (want.stopBits == 0) want.stopBits = 1;
    if (want.stopBits > 2) want.stopBits = 2;
    if (want.baud == 0) want.baud = current.baud;
    if (want.parity > pSpace) want.parity = current.parity;
    if (want.dataBits < 5 || want.dataBits > 8) want.dataBits = current.dataBits;
    return want;
}

}  // namespace

TBaseDispatcher::TBaseDispatcher(TSerialPort* port) : port_(port), id_(registerDispatcher(this)) {}

TBaseDispatcher::~TBaseDispatcher() {
    std::lock_guard lock(listLock());
    dispatcherList().erase(id_);
}

// ---- open and close -------------------------------------------------------------------

int32_t TBaseDispatcher::InitPort(const std::string& path, uint16_t outSize,
                                  const TLineSettings& line, bool dtr, bool rts) {
    int32_t r = CreateSignals();
    if (r != 0) return r;
    r = OpenDevice(path);
    if (r != 0) {
        CloseSignals();
        return r;
    }
    const auto fail = [this](int32_t code) {
        PurgeDevice(true, true);
        CloseDevice();
        CloseSignals();
        return code;
    };
    try {
        receiveRing_.assign(kReceiveRingSize, 0);
        sendRing_.assign(outSize, 0);
        fired_.reserve(4096 / 8 + 1);
    } catch (const std::bad_alloc&) {
        return fail(ecOutOfMemory);
    }
    outSize_ = outSize;
    {
        std::lock_guard lock(dispatchLock_);
        dtr_ = dtr;
        rts_ = rts;
        triggers_.clear();
        handleCounter_ = 1;
        availThreshold_ = 0;
        lastNotified_ = 0;
        closePending_ = false;
        lastRate_ = 115200;
        UpdateScanFlags();
    }
    r = SetDeviceModem(dtr, rts);
    if (r != 0) return fail(r);
    r = SetLine(line, true);
    if (r != 0) return fail(r);
    // A fresh open starts clean: nothing left over from an earlier user of the line.
    PurgeDevice(true, false);

    comThread_.Start(*this);
    ack_.Wait(kThreadStartTimeout);
    dispThread_.Start(*this);
    ack_.Wait(kThreadStartTimeout);
    outThread_.Start(*this);
    ack_.Wait(kThreadStartTimeout);
    return 0;
}

void TBaseDispatcher::DonePort() {
    if (DeviceOpen()) {
        FlushOutBuffer();
        DiscardInput();
    }
    {
        std::lock_guard lock(dispatchLock_);
        stop_.store(true);
    }
    stopSeen_.Set();
    WakeDispatch();
    WakeWriter();
    outputReady_.Set();
    // The watcher and the writer never wait for the logic thread, so they end at once; the
    // dispatch thread may be delivering and stays until StopDispatcher. Its wait may still
    // hold the descriptor, but the wake above ends that wait at once.
    comThread_.Join();
    outThread_.Join();
    std::lock_guard lock(receiveLock_);
    CloseDevice();
}

void TBaseDispatcher::StopDispatcher() {
    WakeDispatch();
    dispThread_.Join();
    CloseSignals();
}

bool TBaseDispatcher::Delivering() {
    std::lock_guard lock(dispatchLock_);
    return delivering_;
}

bool TBaseDispatcher::CancelDelivery() {
    std::shared_ptr<TNotificationTarget> target;
    {
        std::lock_guard lock(dispatchLock_);
        if (!delivering_) return true;
        target = deliveryTarget_;
    }
    if (target) target->CancelPending();
    // Woken the moment the delivery returns: a close does not wait a polling step longer.
    std::unique_lock lock(dispatchLock_);
    return deliveryEnded_.wait_for(lock, std::chrono::milliseconds(100),
                                   [this] { return !delivering_; });
}

void TBaseDispatcher::SetClosePending() {
    std::lock_guard lock(dispatchLock_);
    closePending_ = true;
}

void TBaseDispatcher::PostClosePending() {
    std::shared_ptr<TNotificationTarget> target;
    {
        std::lock_guard lock(dispatchLock_);
        // Should the port have lost its target meanwhile, the one that is delivering ends it.
        target = target_ ? target_ : deliveryTarget_;
    }
    if (target) {
        const uint32_t id = id_;
        target->Post([id] { HandleNotification(id, TNotifyKind::ClosePending, 0); });
    }
}

// ---- line settings --------------------------------------------------------------------

int32_t TBaseDispatcher::SetLine(const TLineSettings& line, bool force) {
    TLineSettings current;
    TLineSettings want;
    int32_t rate;
    {
        std::lock_guard lock(dispatchLock_);
        const int32_t r = GetDeviceLine(current);
        if (r != 0) return r;
        want = normalised(line, current);
        if (!force && want == current) return 0;
        rate = lastRate_;
    }
    // Let queued output leave at the old rate before the line changes under it.
    for (int i = 0; i < 5000 && !SendRingEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    {
        std::lock_guard lock(dispatchLock_);
        if (GetDeviceLine(current) != 0) current = want;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs(rate, current)));

    std::lock_guard lock(dispatchLock_);
    const int32_t r = SetDeviceLine(want);
    if (r != 0) return r;
    lineWrites_.fetch_add(1);
    line_ = want;
    lastRate_ = want.baud;
    currentBaud_.store(want.baud);
    return SetDeviceModem(dtr_, rts_);
}

int32_t TBaseDispatcher::SetModemLines(bool dtr, bool rts) {
    std::lock_guard lock(dispatchLock_);
    dtr_ = dtr;
    rts_ = rts;
    return SetDeviceModem(dtr, rts);
}

// ---- receiving ------------------------------------------------------------------------

uint32_t TBaseDispatcher::WaitingLocked() const {
    return rxFull_ ? kReceiveRingSize : ((rxHead_ - rxTail_) & kRingMask);
}

bool TBaseDispatcher::NoReceiveRoomLocked() const {
    return rxFull_;
}

int32_t TBaseDispatcher::FillReceiveRing() {
    std::lock_guard lock(receiveLock_);
    return FillLocked();
}

// Reads what the device holds into the ring. The room ends at the tail; the bytes the
// triggers have not seen are all waiting, so none of them is overwritten. The read itself
// says how much the device held (a short read took all of it), so no count is asked first.
int32_t TBaseDispatcher::FillLocked() {
    if (rxFull_ || !DeviceOpen() || lineLost_.load() != 0) return 0;
    int32_t total = 0;
    for (int piece = 0; piece < 2; ++piece) {
        const uint32_t room = kReceiveRingSize - WaitingLocked();
        if (room == 0) break;
        const auto want = static_cast<int32_t>(std::min(room, kReceiveRingSize - rxHead_));
        const int32_t got = ReadDevice(receiveRing_.data() + rxHead_, want);
        if (got <= 0) break;
        rxHead_ = (rxHead_ + static_cast<uint32_t>(got)) & kRingMask;
        // Without a trigger nothing needs to see the bytes.
        if (scanPending_ > 0 || walkNeeded_.load()) scanPending_ += static_cast<uint32_t>(got);
        rxFull_ = rxHead_ == rxTail_;
        rxFilled_.fetch_add(static_cast<uint64_t>(got));
        total += got;
        if (got < want) break;
    }
    return total;
}

// The caller takes in what the device holds itself, so it sees bytes without waiting for a
// thread hand-over (and a handler, while the dispatch thread waits for it, sees a frame split
// across reads). The dispatch thread is told when a pass has something to check.
void TBaseDispatcher::TookIn(int32_t filled) {
    if (filled <= 0) return;
    callerTookIn_.fetch_add(1);
    if (passUseful_.load()) WakeDispatch();
}

void TBaseDispatcher::WakeDispatch() {
    if (!wakePending_.exchange(true)) WakeWatcher();
}

uint16_t TBaseDispatcher::InputCount() {
    int32_t filled;
    uint32_t count;
    {
        std::lock_guard lock(receiveLock_);
        filled = FillLocked();
        count = WaitingLocked();
    }
    TookIn(filled);
    return static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF));
}

int32_t TBaseDispatcher::GetBlock(uint8_t* buffer, uint16_t n) {
    if (n == 0) return 0;
    int32_t filled = 0;
    bool enough;
    bool roomBack = false;
    {
        std::lock_guard lock(receiveLock_);
        // Bytes already waiting are read without asking the device; the next count takes in
        // what came meanwhile.
        if (n > WaitingLocked()) filled = FillLocked();
        enough = n <= WaitingLocked();
        if (enough) {
            const bool wasFull = NoReceiveRoomLocked();
            TakeLocked(buffer, n);
            roomBack = wasFull && !NoReceiveRoomLocked();
        }
    }
    TookIn(filled);
    // A full ring had stopped the watch; the room just made lets it watch again.
    if (roomBack) WakeDispatch();
    return enough ? n : ecBufferIsEmpty;
}

// The one notification target reads each byte once, so a read inside a delivery takes its
// bytes at once: they free their room while the handler still runs, and the triggers never
// walk them afterwards.
void TBaseDispatcher::TakeLocked(uint8_t* buffer, uint16_t n) {
    const uint32_t first = std::min<uint32_t>(n, kReceiveRingSize - rxTail_);
    std::memcpy(buffer, receiveRing_.data() + rxTail_, first);
    std::memcpy(buffer + first, receiveRing_.data(), n - first);
    rxTail_ = (rxTail_ + n) & kRingMask;
    rxFull_ = false;
    if (readAheadMode_) readAhead_ += n;
    if (scanPending_ > WaitingLocked()) {
        scanPending_ = WaitingLocked();
        ++rxEpoch_;
    }
}

void TBaseDispatcher::DiscardInput() {
    {
        std::lock_guard lock(receiveLock_);
        rxTail_ = rxHead_;
        rxFull_ = false;
        scanPending_ = 0;
        readAhead_ = 0;
        ++rxEpoch_;
    }
    {
        std::lock_guard lock(dispatchLock_);
        for (auto& t : triggers_) t.ResetMatch();
    }
    PurgeDevice(true, false);
}

// ---- sending --------------------------------------------------------------------------

bool TBaseDispatcher::SendRingEmpty() {
    std::lock_guard lock(sendLock_);
    return !txFull_ && txHead_ == txTail_;
}

uint16_t TBaseDispatcher::OutputFree() {
    std::lock_guard lock(sendLock_);
    const uint32_t used = txFull_ ? outSize_ : (txHead_ + outSize_ - txTail_) % outSize_;
    return static_cast<uint16_t>(outSize_ - used);
}

// On an empty ring the bytes go to the device at once from the caller's thread; they stay
// counted in the ring until the transmit queue has drained, which the writer thread waits
// for unless the queue is empty already. Behind queued bytes the writer sends them in order.
int32_t TBaseDispatcher::PutBlock(const uint8_t* buffer, uint16_t n) {
    if (n == 0) return 0;
    bool wakeWriter = true;
    {
        std::lock_guard lock(sendLock_);
        const uint32_t used = txFull_ ? outSize_ : (txHead_ + outSize_ - txTail_) % outSize_;
        const uint32_t free = outSize_ - used;
        if (n > free) return ecOutputBufferTooSmall;
        const uint32_t start = txHead_;
        const uint32_t first = std::min<uint32_t>(n, outSize_ - txHead_);
        std::memcpy(sendRing_.data() + txHead_, buffer, first);
        std::memcpy(sendRing_.data(), buffer + first, n - first);
        txHead_ = (txHead_ + n) % outSize_;
        if (n == free) txFull_ = true;
        if (used == 0 && DeviceOpen() && lineLost_.load() == 0 && !stop_.load() &&
            !flushRequest_.load()) {
            // The writer's next piece starts at `start` and holds at least `first` bytes.
            const int32_t sent = WriteNow(sendRing_.data() + start, static_cast<int32_t>(first));
            if (sent == n && TransmitDrained()) {
                txHead_ = txTail_ = 0;
                txFull_ = false;
                wakeWriter = false;
            } else {
                txSent_ = static_cast<uint32_t>(std::max(sent, 0));
            }
        }
    }
    if (wakeWriter) outputReady_.Set();
    return n;
}

int32_t TBaseDispatcher::FlushOutBuffer() {
    if (outThread_.Started() && !stop_.load()) {
        flushAck_.Reset();
        flushRequest_.store(true);
        outputReady_.Set();
        WakeWriter();
        flushAck_.Wait(std::chrono::milliseconds(5000));
        flushRequest_.store(false);
    }
    {
        std::lock_guard lock(sendLock_);
        txHead_ = txTail_ = 0;
        txFull_ = false;
        txSent_ = 0;
    }
    return PurgeDevice(false, true);
}

void TBaseDispatcher::MarkLineLost(int32_t code) {
    int32_t expected = 0;
    lineLost_.compare_exchange_strong(expected, code != 0 ? code : ErrnoToCode(EIO));
}

// ---- triggers -------------------------------------------------------------------------

int32_t TBaseDispatcher::AddDataTrigger(std::string_view text, bool ignoreCase) {
    std::lock_guard lock(dispatchLock_);
    if (text.size() > static_cast<size_t>(kMaxTriggerLength)) return ecTriggerTooLong;
    uint32_t handle = 0;
    if (handleCounter_ < 4096) {
        handle = handleCounter_ * 8;
        ++handleCounter_;
    } else {
        for (uint32_t h = 8; h <= 4096 && handle == 0; h += 8) {
            const bool used = std::any_of(triggers_.begin(), triggers_.end(),
                                          [h](const DataTrigger& t) { return t.handle == h; });
            if (!used) handle = h;
        }
        if (handle == 0) return ecNoMoreTriggers;
    }
    triggers_.push_back(MakeDataTrigger(text, ignoreCase, handle));
    UpdateScanFlags();
    return static_cast<int32_t>(handle);
}

TSavedTriggers TBaseDispatcher::SaveTriggers() {
    std::lock_guard lock(dispatchLock_);
    TSavedTriggers saved;
    saved.dataTriggers = triggers_;
    saved.availThreshold = availThreshold_;
    return saved;
}

void TBaseDispatcher::RestoreTriggers(const TSavedTriggers& saved) {
    std::lock_guard lock(dispatchLock_);
    triggers_ = saved.dataTriggers;
    availThreshold_ = saved.availThreshold;
    UpdateScanFlags();
}

void TBaseDispatcher::SetAvailThreshold(uint16_t count) {
    std::lock_guard lock(dispatchLock_);
    availThreshold_ = count;
    UpdateScanFlags();
}

void TBaseDispatcher::SetTarget(std::shared_ptr<TNotificationTarget> target, bool needed) {
    std::lock_guard lock(dispatchLock_);
    target_ = std::move(target);
    deliveryNeeded_ = needed && target_ != nullptr;
    UpdateScanFlags();
}

void TBaseDispatcher::UpdateScanFlags() {
    recheck_.store(true);
    walkNeeded_.store(!triggers_.empty());
    const bool useful = !triggers_.empty() || (availThreshold_ > 0 && deliveryNeeded_);
    // A wait that left the line to a reading caller watches it again at once.
    if (!passUseful_.exchange(useful) && useful) WakeDispatch();
}

// ---- dispatching (TDispThread) --------------------------------------------------------

// A pass fills only when the wait did not see the device empty, and checks only when bytes
// arrived or a setting changed since its last check: an idle pass takes no lock.
void TBaseDispatcher::DispatchPass(bool fill) {
    if (fill) FillReceiveRing();
    const uint64_t filled = rxFilled_.load();
    const bool changed = recheck_.exchange(false);
    if (!changed && checkDone_ && filled == checkedFill_) return;
    checkedFill_ = filled;
    while (!stop_.load() && CheckDataTriggers()) {
    }
    // A check cut short (a close pending, a delivery that says stop) goes on next pass.
    std::lock_guard lock(receiveLock_);
    checkDone_ = scanPending_ == 0;
}

// One step of the trigger check: walks the unseen bytes up to the first that completes a
// trigger and delivers its notifications. True: call again. The bytes are taken in batches,
// one lock of each kind per batch; without a trigger they count as seen at once.
bool TBaseDispatcher::CheckDataTriggers() {
    for (;;) {
        uint32_t a0 = 0;
        uint32_t count = 0;
        uint32_t epoch = 0;
        {
            std::lock_guard lock(receiveLock_);
            if (scanPending_ == 0) break;
            if (!walkNeeded_.load()) {
                scanPending_ = 0;
                break;
            }
            a0 = (rxHead_ - scanPending_) & kRingMask;
            count = std::min<uint32_t>(scanPending_, scanBatch_.size());
            epoch = rxEpoch_;
            // A fill never overwrites waiting bytes, so the copy matches the ring.
            const uint32_t first = std::min(count, kReceiveRingSize - a0);
            std::memcpy(scanBatch_.data(), receiveRing_.data() + a0, first);
            std::memcpy(scanBatch_.data() + first, receiveRing_.data(), count - first);
        }

        int32_t longest = 0;
        uint32_t used = count;
        uint16_t threshold;
        {
            std::lock_guard lock(dispatchLock_);
            if (epoch != walkEpoch_) {
                // Bytes were taken out from under the triggers: no match spans the gap.
                for (auto& t : triggers_) t.ResetMatch();
                walkEpoch_ = epoch;
            }
            for (uint32_t i = 0; i < count && longest == 0; ++i) {
                const uint8_t c = scanBatch_[i];
                for (auto& t : triggers_) {
                    if (t.length <= 0) continue;
                    if (!t.matched && t.Match(c)) t.matched = true;
                    if (t.matched) longest = std::max(longest, t.length);
                }
                if (longest > 0) used = i + 1;
            }
            threshold = availThreshold_;
        }

        const uint32_t a = (a0 + used - 1) & kRingMask;
        int64_t throughA;  // waiting bytes from the tail up to and including a
        bool cut;
        {
            std::lock_guard lock(receiveLock_);
            cut = epoch != rxEpoch_;
            // Fills meanwhile only added bytes behind the batch.
            if (!cut) scanPending_ -= used;
            throughA = static_cast<int64_t>(WaitingLocked()) - scanPending_;
        }
        if (cut) {
            // Discarded or read under the walk: what the walk made of the batch is void.
            std::lock_guard lock(dispatchLock_);
            for (auto& t : triggers_) t.ResetMatch();
            continue;
        }
        if (longest == 0) continue;

        bool result = true;
        if (threshold > 0 && a != lastNotified_) {
            // Bytes ahead of the string; those a handler already took do not count.
            const int64_t before = throughA - longest;
            if (before >= threshold) {
                result = Deliver(TNotifyKind::Avail,
                                 static_cast<uint16_t>(std::min<int64_t>(before, 0xFFFF)));
                lastNotified_ = a;
            }
        }
        {
            std::lock_guard lock(dispatchLock_);
            fired_.clear();
            for (auto it = triggers_.rbegin(); it != triggers_.rend(); ++it) {
                if (!it->matched) continue;
                it->matched = false;
                fired_.emplace_back(static_cast<uint16_t>(it->handle), it->length);
            }
        }
        for (const auto& [handle, length] : fired_) {
            (void)length;
            result = Deliver(TNotifyKind::Data, handle);
            std::lock_guard lock(dispatchLock_);
            if (closePending_) return false;
        }
        return result;
    }

    uint32_t waiting;
    uint32_t head;
    {
        std::lock_guard lock(receiveLock_);
        waiting = WaitingLocked();
        head = rxHead_;
    }
    uint16_t threshold;
    {
        std::lock_guard lock(dispatchLock_);
        threshold = availThreshold_;
    }
    if (threshold > 0 && head != lastNotified_ && waiting >= threshold) {
        lastNotified_ = head;
        return Deliver(TNotifyKind::Avail,
                       static_cast<uint16_t>(std::min<uint32_t>(waiting, 0xFFFF)));
    }
    return false;
}

bool TBaseDispatcher::Deliver(TNotifyKind kind, uint16_t value) {
    std::shared_ptr<TNotificationTarget> target;
    {
        std::lock_guard lock(dispatchLock_);
        if (!deliveryNeeded_ || !target_) return true;
        if (stop_.load() || closePending_) return false;
        delivering_ = true;
        target = deliveryTarget_ = target_;
    }
    {
        std::lock_guard lock(receiveLock_);
        readAheadMode_ = true;
        readAhead_ = 0;
    }
    bool result = true;
    const uint32_t id = id_;
    target->Deliver([id, kind, value] { HandleNotification(id, kind, value); }, kDeliveryTimeout);
    {
        std::lock_guard lock(dispatchLock_);
        if (closePending_) result = false;
    }
    {
        std::lock_guard lock(receiveLock_);
        if (readAheadMode_) {
            readAheadMode_ = false;
            if (kind == TNotifyKind::Avail && readAhead_ != value) result = false;
            readAhead_ = 0;
        }
    }
    {
        std::lock_guard lock(dispatchLock_);
        delivering_ = false;
    }
    deliveryEnded_.notify_all();
    return result;
}

// ---- on the logic thread --------------------------------------------------------------

void TBaseDispatcher::HandleNotification(uint32_t id, TNotifyKind kind, uint16_t value) {
    // The list is held only to find the port: a port and its dispatcher are made and
    // destroyed on this same logic thread, so nothing can take them away while the handler
    // runs, and a handler on one thread never holds up the handlers of a session on another.
    TSerialPort* port = nullptr;
    {
        std::lock_guard lock(listLock());
        const auto it = dispatcherList().find(id);
        if (it == dispatcherList().end() || it->second == nullptr) return;
        port = it->second->port_;
    }
    if (port == nullptr) return;
    if (kind == TNotifyKind::ClosePending) {
        port->FinishDeferredClose();
        return;
    }
    struct Depth {
        Depth() { ++handlerDepth; }
        ~Depth() { --handlerDepth; }
    } depth;
    try {
        if (kind == TNotifyKind::Avail) {
            if (auto handler = port->OnTriggerAvail) handler(*port, value);
        } else if (auto handler = port->OnTriggerData) {
            handler(*port, value);
        }
    } catch (const std::exception& e) {
        ReportHandlerError(e.what());
    } catch (...) {
        ReportHandlerError("Unknown exception");
    }
}

bool TBaseDispatcher::InHandler() {
    return handlerDepth > 0;
}

}  // namespace swb808
