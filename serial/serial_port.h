#pragma once

// The serial port object: one COM port, opened exclusively, with a receive ring filled by
// background threads and an output ring drained to the device by another. Every member is
// called on the logic thread of its owner (the UI thread in the window, a session's thread
// elsewhere).
//
// Notifications (OnTriggerData, OnTriggerAvail) are raised on the logic thread through a
// TNotificationTarget, one at a time and in byte order. The window attaches the Qt one
// (ui/qt_port_notifier.h, target swb808_qt_notify), before or after opening:
//     auto notifier = swb808::TQtPortNotifier::AttachTo(port);
// which is port.SetNotificationTarget(std::make_shared<TQtPortNotifier>()). Without a target
// no notification is delivered. While a handler runs, the bytes the device receives still
// reach InputCount(), so a handler can wait for the rest of a frame.
//
// Closing from inside a handler (or from an event handled while one runs) is deferred: the
// device is closed and the threads stop at once, PortPhase() is Closing and Open() stays true
// until the handler has returned; meanwhile every operation does nothing.
//
// A device that vanishes while open (a USB adapter pulled out) stops the background reading
// without any busy loop; LineLost() then reads true and LineLostText() says so in plain words.
// The port still has to be closed as usual.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serial/com_ports.h"
#include "serial/data_trigger.h"
#include "serial/notification_target.h"
#include "serial/serial_errors.h"

namespace swb808 {

class TSerialPort;
class TBaseDispatcher;

enum TPortPhase : uint8_t { Closed, Closing, Opened };
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };
enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TDeviceLayer : uint8_t { dlWin32 };  // the one device layer (here the POSIX one)
enum THWFlowOption : uint8_t {
    hwfUseDTR = 1,
    hwfUseRTS = 2,
    hwfRequireDSR = 4,
    hwfRequireCTS = 8
};  // HWFlowOptions is a bit set of these

using TTriggerDataEvent = std::function<void(TSerialPort& CP, uint16_t TriggerHandle)>;
using TTriggerAvailEvent = std::function<void(TSerialPort& CP, uint16_t Count)>;

// The trigger lists kept by the port from a close to the next open.
struct TSavedTriggers {
    std::vector<DataTrigger> dataTriggers;
    uint16_t availThreshold = 1;
    bool restore = false;
};

class TSerialPort {
  public:
    TSerialPort();
    ~TSerialPort();  // closes an open port
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Published settings (class defaults in brackets).
    uint16_t ComNumber() const { return comNumber_; }  // [0]
    void SetComNumber(uint16_t n);
    // A device named by its path (/dev/ttyUSB0, /dev/serial/by-id/...), used instead of the
    // COM table while not empty. [""]. Changing it on an open port reopens it there.
    const std::string& DevicePath() const { return devicePath_; }
    void SetDevicePath(std::string path);
    // The device an open uses: DevicePath, else COM ComNumber's.
    std::string TargetPath() const;
    int32_t Baud() const { return baud_; }  // [19200]
    void SetBaud(int32_t baud);
    TParity Parity() const { return parity_; }  // [pNone]
    void SetParity(TParity parity);
    uint16_t DataBits() const { return dataBits_; }  // [8]
    void SetDataBits(uint16_t bits);
    uint16_t StopBits() const { return stopBits_; }  // [1]
    void SetStopBits(uint16_t bits);
    uint16_t InSize() const { return inSize_; }    // [4096]
    void SetInSize(uint16_t size);                 // stored; takes effect at the next open
    uint16_t OutSize() const { return outSize_; }  // [4096]
    void SetOutSize(uint16_t size);                // stored; takes effect at the next open
    bool DTR() const { return dtr_; }              // [true]
    void SetDTR(bool on);
    bool RTS() const { return rts_; }  // [true]
    void SetRTS(bool on);
    uint16_t AvailThreshold() const { return availThreshold_; }  // [1]
    void SetAvailThreshold(uint16_t count);

    // Settings kept for completeness; the features behind them stay off on this layer.
    bool AutoOpen() const { return autoOpen_; }  // [true]
    void SetAutoOpen(bool on) { autoOpen_ = on; }
    bool PromptForPort() const { return promptForPort_; }  // [true]; no dialog is ever shown
    void SetPromptForPort(bool on) { promptForPort_ = on; }
    uint8_t HWFlowOptions() const { return hwFlowOptions_; }  // [0]; no flow control
    void SetHWFlowOptions(uint8_t options) { hwFlowOptions_ = options; }
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }  // [swfNone]; no XON/XOFF
    void SetSWFlowOptions(TSWFlowOptions options) { swFlowOptions_ = options; }
    uint8_t XOnChar() const { return xOnChar_; }  // [0x11]
    void SetXOnChar(uint8_t c) { xOnChar_ = c; }
    uint8_t XOffChar() const { return xOffChar_; }  // [0x13]
    void SetXOffChar(uint8_t c) { xOffChar_ = c; }
    uint16_t BufferFull() const { return bufferFull_; }  // [0]
    void SetBufferFull(uint16_t n) { bufferFull_ = n; }
    uint16_t BufferResume() const { return bufferResume_; }  // [0]
    void SetBufferResume(uint16_t n) { bufferResume_ = n; }
    TDeviceLayer DeviceLayer() const { return dlWin32; }
    TTapiMode TapiMode() const { return tapiMode_; }  // [tmAuto]
    void SetTapiMode(TTapiMode mode) { tapiMode_ = mode; }
    TTraceLogState Tracing() const { return tracing_; }  // [tlOff]
    void SetTracing(TTraceLogState s) { tracing_ = s; }
    TTraceLogState Logging() const { return logging_; }  // [tlOff]
    void SetLogging(TTraceLogState s) { logging_ = s; }
    bool UseEventWord() const { return useEventWord_; }  // [true]
    void SetUseEventWord(bool on) { useEventWord_ = on; }
    bool UseMSRShadow() const { return useMSRShadow_; }  // [true]
    void SetUseMSRShadow(bool on) { useMSRShadow_ = on; }
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }  // [10]
    void SetCommNotificationLevel(uint16_t level) { commNotificationLevel_ = level; }
    bool RS485Mode() const { return rs485Mode_; }  // [false]
    void SetRS485Mode(bool on) { rs485Mode_ = on; }

    // Open: true once an open has succeeded, until its close has completed.
    bool Open() const { return open_; }
    void SetOpen(bool open);
    TPortPhase PortPhase() const { return phase_; }

    // Byte operations. Closed: InputCount 0, OutputFree OutSize, the others raise
    // ECommNotOpen. Closing: all return at once without effect (ReadByte gives 0).
    uint16_t InputCount();
    uint16_t OutputFree();  // OutSize exactly when every queued byte has reached the device
    uint8_t ReadByte();
    void ReadBlock(uint8_t* buffer, uint16_t n);  // all n or nothing (EBufferIsEmpty)
    void WriteByte(uint8_t b);
    void WriteBlock(const uint8_t* buffer, uint16_t n);  // all n or nothing
    void DiscardOutput();

    // Registers a data trigger (at most 21 bytes) and returns its handle: 8, 16, ... counted
    // from every open. Triggers survive a close and come back at the next open.
    uint16_t AddTriggerString(std::string_view text, bool ignoreCase);

    TTriggerDataEvent OnTriggerData;
    TTriggerAvailEvent OnTriggerAvail;

    // The logic thread's end of notification delivery; may be changed at any time.
    void SetNotificationTarget(std::shared_ptr<TNotificationTarget> target);
    const std::shared_ptr<TNotificationTarget>& NotificationTarget() const { return target_; }

    // The device vanished (hang-up, I/O error) while open. Cleared by the next open.
    bool LineLost() const;
    int32_t LineLostCode() const;  // the error seen, as a library code (PortErrorText)
    std::string LineLostText() const;

    // Diagnostics: how often the line settings were written to the device since creation.
    uint32_t LineSettingsWrites() const;

  private:
    friend class TBaseDispatcher;
    void DoOpen();
    void DoClose();
    void FinishClose();
    void FinishDeferredClose();
    void ApplyLineSettings();
    void Retarget(const std::function<void()>& change);
    void InstallTarget();
    int32_t Check(int32_t code);  // RaiseOnError
    bool Usable();                // Opened with a dispatcher; raises ECommNotOpen when Closed

    uint16_t comNumber_ = 0;
    std::string devicePath_;
    int32_t baud_ = 19200;
    TParity parity_ = pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool dtr_ = true;
    bool rts_ = true;
    uint16_t availThreshold_ = 1;
    bool autoOpen_ = true;
    bool promptForPort_ = true;
    uint8_t hwFlowOptions_ = 0;
    TSWFlowOptions swFlowOptions_ = swfNone;
    uint8_t xOnChar_ = 0x11;
    uint8_t xOffChar_ = 0x13;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TTapiMode tapiMode_ = tmAuto;
    TTraceLogState tracing_ = tlOff;
    TTraceLogState logging_ = tlOff;
    bool useEventWord_ = true;
    bool useMSRShadow_ = true;
    uint16_t commNotificationLevel_ = 10;
    bool rs485Mode_ = false;

    bool open_ = false;
    bool openWanted_ = false;  // Open set to true during a deferred close
    TPortPhase phase_ = Closed;
    std::unique_ptr<TBaseDispatcher> dispatcher_;
    std::shared_ptr<TNotificationTarget> target_;
    TSavedTriggers savedTriggers_;
    int32_t lastLineLost_ = 0;  // kept after a close so the logic can still ask
    uint32_t lineWrites_ = 0;
};

}  // namespace swb808
