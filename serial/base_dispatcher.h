#pragma once

// The dispatcher: exists while a port is open. It owns the rings, the trigger lists, the
// three background threads and the locks; its operations return codes and never raise. The
// device primitives are left to the platform's subclass.
//
// Locks: DispatchLock (line settings, trigger lists, targets, delivery flags), ReceiveLock
// (ReceiveRing, read-ahead, scan bookkeeping, the device read), SendLock (SendRing). The
// receive lock may be held while the send lock is taken, never the reverse; the dispatch lock
// is never held while either of the others is taken.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "serial/data_trigger.h"
#include "serial/dispatcher_threads.h"
#include "serial/notification_target.h"
#include "serial/serial_port.h"
#include "serial/signal_event.h"

namespace swb808 {

inline constexpr uint32_t kReceiveRingSize = 8192;
inline constexpr auto kDeliveryTimeout = std::chrono::milliseconds(3000);
inline constexpr auto kDispatchPeriod = std::chrono::milliseconds(50);
inline constexpr auto kThreadStartTimeout = std::chrono::milliseconds(3000);

struct TLineSettings {
    int32_t baud = 19200;
    TParity parity = pNone;
    uint16_t dataBits = 8;
    uint16_t stopBits = 1;
    bool operator==(const TLineSettings&) const = default;
};

enum class TNotifyKind : uint8_t { Avail, Data, ClosePending };

enum class TLineEvent : uint8_t { Data, Wake, Lost };

class TBaseDispatcher {
  public:
    explicit TBaseDispatcher(TSerialPort* port);
    virtual ~TBaseDispatcher();
    TBaseDispatcher(const TBaseDispatcher&) = delete;
    TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

    // Open: signals, device, rings, modem lines, line settings, input flush, threads.
    int32_t InitPort(const std::string& path, uint16_t outSize, const TLineSettings& line, bool dtr,
                     bool rts);
    // Close, first half: discard output and input, stop and join the watcher and the writer,
    // close the device, tell the dispatch thread to stop.
    void DonePort();
    // Close, second half: join the dispatch thread (it must not be delivering).
    void StopDispatcher();
    bool ThreadsRunning() const { return running_.load() > 0; }
    bool Delivering();
    // Ends a delivery the logic thread has not begun to handle; true when none is left.
    bool CancelDelivery();
    void SetClosePending();

    // Applies line settings on the open device: nothing when they already hold (unless
    // `force`), else the
    // settle wait (drain, then 18 characters at the last rate) and the write. 0 or a code.
    int32_t SetLine(const TLineSettings& line, bool force = false);
    int32_t SetModemLines(bool dtr, bool rts);
    uint32_t LineWrites() const { return lineWrites_.load(); }

    uint16_t InputCount();
    uint16_t OutputFree();
    int32_t GetBlock(uint8_t* buffer, uint16_t n);
    int32_t PutBlock(const uint8_t* buffer, uint16_t n);
    int32_t FlushOutBuffer();  // DiscardOutput

    int32_t AddDataTrigger(std::string_view text, bool ignoreCase);
    TSavedTriggers SaveTriggers();
    void RestoreTriggers(const TSavedTriggers& saved);
    void SetAvailThreshold(uint16_t count);

    void SetTarget(std::shared_ptr<TNotificationTarget> target, bool needed);
    void PostClosePending();

    int32_t LineLostCode() const { return lineLost_.load(); }
    uint32_t Id() const { return id_; }

    // Runs a notification on the logic thread (called through the target).
    static void HandleNotification(uint32_t id, TNotifyKind kind, uint16_t value);
    // Whether the logic thread is inside a notification handler (at any nesting depth).
    static bool InHandler();

  protected:
    // Device primitives. Codes as everywhere in the layer; reads and counts never fail
    // (errors count as 0 and a vanished device marks the line lost).
    virtual int32_t CreateSignals() = 0;  // -8 on failure
    virtual void CloseSignals() = 0;
    virtual int32_t OpenDevice(const std::string& path) = 0;
    virtual void CloseDevice() = 0;  // releases the lock and the exclusive mode, closes
    virtual bool DeviceOpen() const = 0;
    // Returns at once with what the device holds, up to n (0 when it holds none).
    virtual int32_t ReadDevice(uint8_t* buffer, int32_t n) = 0;
    // Writes and waits until the device's transmit queue has drained; returns n, or
    // kAbandoned when told to flush or stop meanwhile. A failing device drops the bytes.
    virtual int32_t WriteDevice(const uint8_t* buffer, int32_t n) = 0;
    // One non-blocking write from the caller's thread: the bytes the device took, 0 on none.
    virtual int32_t WriteNow(const uint8_t* buffer, int32_t n) = 0;
    // Whether the device's transmit queue is known to be empty now.
    virtual bool TransmitDrained() = 0;
    virtual int32_t PurgeDevice(bool input, bool output) = 0;
    virtual int32_t GetDeviceLine(TLineSettings& line) = 0;
    virtual int32_t SetDeviceLine(const TLineSettings& line) = 0;  // verifies the rate taken
    virtual int32_t SetDeviceModem(bool dtr, bool rts) = 0;
    // The dispatch thread's wait: bytes arriving (when `watchData`), the device vanishing,
    // WakeWatcher, or the timeout. Data whenever the device holds bytes, also on a wake.
    virtual TLineEvent WaitLineEvent(bool watchData, std::chrono::milliseconds timeout) = 0;
    virtual void WakeWatcher() = 0;  // ends a WaitLineEvent now or the next one at once
    virtual void WakeWriter() = 0;

    static constexpr int32_t kAbandoned = -1;

    void MarkLineLost(int32_t code);
    bool StopRequested() const { return stop_.load(); }
    bool FlushRequested() const { return flushRequest_.load(); }
    int32_t CurrentBaud() const { return currentBaud_.load(); }

  private:
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

    void ThreadStarted() { running_.fetch_add(1); }
    void ThreadEnded() { running_.fetch_sub(1); }

    int32_t FillReceiveRing();  // takes ReceiveLock
    int32_t FillLocked();       // ReceiveLock held
    bool HasReceiveRoom() const { return !rxFull_.load(); }
    // One pass; `fill`: the device may hold bytes (a wait that watched it saw none).
    void DispatchPass(bool fill);
    void WakeDispatch();  // coalesced: one wake until the dispatch thread has taken it
    void DispatchWoken() { wakePending_.store(false); }
    bool CheckDataTriggers();  // true: go on
    bool NoReceiveRoomLocked() const;
    void UpdateScanFlags();  // DispatchLock held
    bool Deliver(TNotifyKind kind, uint16_t value);
    void DiscardInput();
    uint32_t WaitingLocked() const;
    void TakeLocked(uint8_t* buffer, uint16_t n);  // ReceiveLock held, n bytes waiting
    void TookIn(int32_t filled);
    bool SendRingEmpty();

    TSerialPort* const port_;
    const uint32_t id_;

    // DispatchLock.
    std::recursive_mutex dispatchLock_;
    std::vector<DataTrigger> triggers_;
    uint32_t handleCounter_ = 1;
    uint16_t availThreshold_ = 0;
    uint32_t lastNotified_ = 0;
    std::shared_ptr<TNotificationTarget> target_;
    std::shared_ptr<TNotificationTarget> deliveryTarget_;  // of the latest delivery
    bool deliveryNeeded_ = false;
    bool delivering_ = false;
    std::condition_variable_any deliveryEnded_;  // delivering_ went false
    bool closePending_ = false;
    TLineSettings line_{};
    int32_t lastRate_ = 115200;
    bool dtr_ = true;
    bool rts_ = true;
    std::vector<std::pair<uint16_t, int32_t>> fired_;  // reused, so the scan does not allocate
    // Dispatch thread only: bytes copied out of the ring for one batch of the trigger walk,
    // and the stream cut the match state belongs to.
    std::array<uint8_t, 256> scanBatch_{};
    uint32_t walkEpoch_ = 0;
    uint64_t checkedFill_ = 0;  // rxFilled_ when the last check began
    bool checkDone_ = false;    // that check walked every unseen byte

    // ReceiveLock.
    std::mutex receiveLock_;
    std::vector<uint8_t> receiveRing_;
    uint32_t rxHead_ = 0;
    uint32_t rxTail_ = 0;
    std::atomic<bool> rxFull_{false};  // also read without the lock, by the dispatch wait
    // The newest waiting bytes that the triggers have not seen: they start at
    // head - scanPending_. Never more than are waiting, so a read that takes unseen bytes
    // takes them from the triggers too.
    uint32_t scanPending_ = 0;
    // Counts cuts in the stream the triggers see (input discarded, unseen bytes read), so a
    // batch in flight is not committed and no partial match spans the cut.
    uint32_t rxEpoch_ = 0;
    bool readAheadMode_ = false;
    uint32_t readAhead_ = 0;  // bytes the handler of the running delivery has read

    // SendLock.
    std::mutex sendLock_;
    std::vector<uint8_t> sendRing_;
    uint32_t outSize_ = 4096;
    uint32_t txHead_ = 0;
    uint32_t txTail_ = 0;
    bool txFull_ = false;
    uint32_t txSent_ = 0;  // bytes at the tail that WriteBlock already handed to the device

    // Thread signalling.
    std::atomic<bool> stop_{false};
    std::atomic<bool> flushRequest_{false};
    std::atomic<int> running_{0};
    std::atomic<int32_t> lineLost_{0};
    std::atomic<int32_t> currentBaud_{19200};
    std::atomic<uint32_t> lineWrites_{0};
    std::atomic<uint64_t> rxFilled_{0};      // bytes ever taken from the device, by any thread
    std::atomic<uint64_t> callerTookIn_{0};  // takings from the device on a caller's thread
    std::atomic<bool> walkNeeded_{false};    // some data trigger is registered
    std::atomic<bool> passUseful_{false};    // a dispatch pass can raise something
    std::atomic<bool> wakePending_{false};   // WakeWatcher called, not yet taken by the wait
    std::atomic<bool> recheck_{true};        // triggers, threshold or target changed
    TSignal stopSeen_{true};                 // the close has told the threads to stop
    TSignal ack_;
    TSignal outputReady_;
    TSignal flushAck_;
    TComThread comThread_;
    TDispThread dispThread_;
    TOutThread outThread_;
};

}  // namespace swb808
