#include "serial/serial_port.h"

#include <chrono>
#include <thread>

#include "serial/base_dispatcher.h"
#include "serial/device_layer.h"

namespace swb808 {

TSerialPort::TSerialPort() = default;

TSerialPort::~TSerialPort() {
    try {
        if (phase_ == Opened) DoClose();
    } catch (...) {
    }
    if (dispatcher_) {
        // A deferred close can no longer wait for the logic thread: end it here.
        dispatcher_->SetClosePending();
        dispatcher_->StopDispatcher();
        dispatcher_.reset();
    }
}

int32_t TSerialPort::Check(int32_t code) {
    return RaiseOnError(code);
}

bool TSerialPort::Usable() {
    if (phase_ == Opened && dispatcher_) return true;
    if (phase_ == Closing) return false;
    RaiseOnError(ecNotOpen);
    return false;
}

// ---- settings -------------------------------------------------------------------------

void TSerialPort::ApplyLineSettings() {
    if (phase_ != Opened || !dispatcher_) return;
    Check(dispatcher_->SetLine(TLineSettings{baud_, parity_, dataBits_, stopBits_}));
}

void TSerialPort::SetBaud(int32_t baud) {
    if (baud == baud_) return;
    baud_ = baud;
    ApplyLineSettings();
}

void TSerialPort::SetParity(TParity parity) {
    if (parity == parity_) return;
    parity_ = parity;
    ApplyLineSettings();
}

void TSerialPort::SetDataBits(uint16_t bits) {
    if (bits == dataBits_) return;
    dataBits_ = bits;
    ApplyLineSettings();
}

void TSerialPort::SetStopBits(uint16_t bits) {
    if (bits == stopBits_) return;
    stopBits_ = bits;
    ApplyLineSettings();
}

void TSerialPort::SetInSize(uint16_t size) {
    inSize_ = size;
}

void TSerialPort::SetOutSize(uint16_t size) {
    if (size > 0) outSize_ = size;
}

void TSerialPort::SetDTR(bool on) {
    dtr_ = on;
    if (phase_ == Opened && dispatcher_) Check(dispatcher_->SetModemLines(dtr_, rts_));
}

void TSerialPort::SetRTS(bool on) {
    rts_ = on;
    if (phase_ == Opened && dispatcher_) Check(dispatcher_->SetModemLines(dtr_, rts_));
}

void TSerialPort::SetAvailThreshold(uint16_t count) {
    availThreshold_ = count;
    if (phase_ == Opened && dispatcher_) dispatcher_->SetAvailThreshold(count);
}

void TSerialPort::SetComNumber(uint16_t n) {
    if (n == comNumber_) return;
    Retarget([&] { comNumber_ = n; });
}

void TSerialPort::SetDevicePath(std::string path) {
    if (path == devicePath_) return;
    Retarget([&] { devicePath_ = path; });
}

std::string TSerialPort::TargetPath() const {
    return devicePath_.empty() ? ComDevicePath(comNumber_) : devicePath_;
}

// A new device for an open port: it is closed and opened on the new one, keeping its triggers.
void TSerialPort::Retarget(const std::function<void()>& change) {
    const std::string before = TargetPath();
    if (phase_ != Opened) {
        change();
        return;
    }
    // A change that names the same device (the COM number beside a device path) keeps the
    // open line.
    {
        const auto com = comNumber_;
        const auto path = devicePath_;
        change();
        const bool same = TargetPath() == before;
        comNumber_ = com;
        devicePath_ = path;
        if (same) return change();
    }
    const TSavedTriggers copy = dispatcher_->SaveTriggers();
    const auto tracing = tracing_;
    const auto logging = logging_;
    DoClose();
    change();
    tracing_ = tracing;
    logging_ = logging;
    if (phase_ != Closed) {  // the close was deferred; the open follows it
        openWanted_ = true;
        return;
    }
    DoOpen();
    dispatcher_->RestoreTriggers(copy);
}

// ---- open and close -------------------------------------------------------------------

void TSerialPort::SetOpen(bool open) {
    if (open) {
        if (phase_ == Closed)
            DoOpen();
        else if (phase_ == Closing && !open_)
            openWanted_ = true;
        return;
    }
    openWanted_ = false;
    if (phase_ == Opened) DoClose();
}

void TSerialPort::DoOpen() {
    if (comNumber_ == 0 && devicePath_.empty()) RaiseOnError(ecNoPortSelected);
    auto d = CreateDeviceDispatcher(this);
    const int32_t r = d->InitPort(TargetPath(), outSize_,
                                  TLineSettings{baud_, parity_, dataBits_, stopBits_}, dtr_, rts_);
    if (r != 0) {
        lineWrites_ += d->LineWrites();
        d.reset();
        phase_ = Closed;
        open_ = false;
        RaiseOnError(r);
    }
    lastLineLost_ = 0;
    dispatcher_ = std::move(d);
    phase_ = Opened;
    InstallTarget();
    dispatcher_->SetAvailThreshold(availThreshold_);
    open_ = true;
    if (savedTriggers_.restore) {
        dispatcher_->RestoreTriggers(savedTriggers_);
        savedTriggers_.restore = false;
    }
}

void TSerialPort::DoClose() {
    phase_ = Closing;
    savedTriggers_ = dispatcher_->SaveTriggers();
    savedTriggers_.restore = true;
    dispatcher_->DonePort();
    // A notification posted but not yet taken up concerns input the close just discarded:
    // drop it, so that the close completes here and an open may follow at once.
    if (!TBaseDispatcher::InHandler()) dispatcher_->CancelDelivery();
    if (dispatcher_->Delivering()) {
        // Closed from a handler (or from an event handled while one runs): the device is
        // closed and the threads stopped, the rest follows once the handler has returned.
        dispatcher_->SetClosePending();
        dispatcher_->PostClosePending();
        return;
    }
    FinishClose();
}

void TSerialPort::FinishClose() {
    dispatcher_->StopDispatcher();
    lastLineLost_ = dispatcher_->LineLostCode();
    lineWrites_ += dispatcher_->LineWrites();
    dispatcher_.reset();
    phase_ = Closed;
    open_ = false;
}

void TSerialPort::FinishDeferredClose() {
    if (phase_ != Closing || !dispatcher_) return;
    if (dispatcher_->ThreadsRunning()) {
        // The dispatch thread is still returning from its delivery; ask again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        dispatcher_->PostClosePending();
        return;
    }
    FinishClose();
    if (openWanted_) {
        openWanted_ = false;
        DoOpen();
    }
}

// ---- byte operations ------------------------------------------------------------------

uint16_t TSerialPort::InputCount() {
    if (phase_ != Opened || !dispatcher_) return 0;
    return dispatcher_->InputCount();
}

uint16_t TSerialPort::OutputFree() {
    if (phase_ != Opened || !dispatcher_) return outSize_;
    return dispatcher_->OutputFree();
}

uint8_t TSerialPort::ReadByte() {
    if (!Usable()) return 0;
    uint8_t b = 0;
    Check(dispatcher_->GetBlock(&b, 1));
    return b;
}

void TSerialPort::ReadBlock(uint8_t* buffer, uint16_t n) {
    if (!Usable()) return;
    Check(dispatcher_->GetBlock(buffer, n));
}

void TSerialPort::WriteByte(uint8_t b) {
    WriteBlock(&b, 1);
}

void TSerialPort::WriteBlock(const uint8_t* buffer, uint16_t n) {
    if (!Usable()) return;
    Check(dispatcher_->PutBlock(buffer, n));
}

void TSerialPort::DiscardOutput() {
    if (!Usable()) return;
    Check(dispatcher_->FlushOutBuffer());
}

// ---- triggers and notifications -------------------------------------------------------

uint16_t TSerialPort::AddTriggerString(std::string_view text, bool ignoreCase) {
    if (!Usable()) return 0;
    InstallTarget();  // the handler may have been assigned after the open
    return static_cast<uint16_t>(Check(dispatcher_->AddDataTrigger(text, ignoreCase)));
}

void TSerialPort::SetNotificationTarget(std::shared_ptr<TNotificationTarget> target) {
    target_ = std::move(target);
    if (dispatcher_) InstallTarget();
}

void TSerialPort::InstallTarget() {
    if (!dispatcher_) return;
    dispatcher_->SetTarget(target_, OnTriggerData != nullptr || OnTriggerAvail != nullptr);
}

// ---- line state -----------------------------------------------------------------------

int32_t TSerialPort::LineLostCode() const {
    return dispatcher_ ? dispatcher_->LineLostCode() : lastLineLost_;
}

bool TSerialPort::LineLost() const {
    return LineLostCode() != 0;
}

std::string TSerialPort::LineLostText() const {
    const int32_t code = LineLostCode();
    if (code == 0) return {};
    return "The serial device has gone away (" + PortErrorText(static_cast<int16_t>(code)) + ")";
}

uint32_t TSerialPort::LineSettingsWrites() const {
    return lineWrites_ + (dispatcher_ ? dispatcher_->LineWrites() : 0);
}

}  // namespace swb808
