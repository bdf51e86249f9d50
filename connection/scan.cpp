// Finding the board: port and baud search, one wake byte and a query per pair.

#include <algorithm>

#include "protocol/paced_wait.h"
#include "serial/com_ports.h"
#include "serial/serial_errors.h"
#include "ui/main_window.h"

namespace swb808 {

namespace {

constexpr uint8_t kWakeByte = 0xDF;
constexpr int kBaudItems = 14;  // "300" .. "230400" after "auto"
const QString kAuto = QStringLiteral("auto");

}  // namespace

bool TSWB808Form::OpenSWBPort(int32_t port, int32_t baud) {
    DropLostLine();  // a vanished device is closed, so that it is opened afresh when back
    if (!PortAvailable(port)) return false;
    if (OpenedPort != 0 && port != OpenedPort && SWBComPort.Open()) {
        try {
            SWBComPort.SetOpen(false);
        } catch (...) {
        }
    }
    PacedWait(10);
    const auto logFailure = [&](const QString& text) {
        ErrorMemo->SetFontColor(clRed);
        ErrorMemo->AddLine(QStringLiteral("COM%1: Baud=%2: %3").arg(port).arg(baud).arg(text));
    };
    try {
        SWBComPort.SetComNumber(uint16_t(port));
        SWBComPort.SetBaud(baud);
        // OpenedPort is taken before the open, so a port that fails to open is not retried
        // at the next rate.
        if (port != OpenedPort) {
            OpenedPort = port;
            SWBComPort.SetOpen(true);
        }
    } catch (const ESerialException& e) {
        logFailure(QString::fromStdString(PortErrorText(int16_t(e.ErrorCode))));
        return false;
    } catch (const EInOutError& e) {
        logFailure(QString::fromStdString(PortErrorText(int16_t(e.ErrorCode))));
        return false;
    } catch (...) {
        logFailure(QStringLiteral("unknown Error!"));
        return false;
    }
    const bool open = SWBComPort.Open();
    PacedWait(10);
    return open;
}

int32_t TSWB808Form::ScanConnect(int32_t port, int32_t baud) {
    if (!OpenSWBPort(port, baud)) return 0;
    SWBComPort.WriteByte(kWakeByte);
    // A vanished device never drains its output; do not wait for it forever.
    while (SWBComPort.OutputFree() < TSWB808Protocol::kOutputBufferSize && !SWBComPort.LineLost())
        PacedWait(10);
    const bool answered = Protocol.readconfig(port, baud);
    // A device that went away during the query is no connection, whatever it answered.
    if (DropLostLine()) return 0;
    return answered ? baud : 0;
}

int32_t TSWB808Form::ScanBaud(int32_t port) {
    const QString selected = BaudrateComboBox->currentText();
    if (selected != kAuto) return ScanConnect(port, selected.toInt());
    int32_t result = 0;
    for (int i = 1; i <= kBaudItems; ++i) {
        // The bar stops at its end, as a stepped bar does.
        StatusProgressBar->setValue(
            std::min(StatusProgressBar->maximum(), StatusProgressBar->value() + ScanStep));
        const QString rate = BaudrateComboBox->itemText(i);
        SWBStatusBar->SetPanelText(
            1, QStringLiteral("scanning COM%1 at %2 Baud...").arg(port).arg(rate));
        result = ScanConnect(port, rate.toInt());
        if (result > 0) break;
    }
    return result;
}

void TSWB808Form::ScanSpeedButtonClick() {
    if (Connected) {  // "Close"
        Protocol.Payload[0] = 0;
        Protocol.SendCommand(0xBA, 1);
        BaudrateComboBox->SetItemIndex(0);
        disconnect();
        PacedWait(2000);
        return;
    }

    // A port that failed to open in an earlier scan (held by another program, say) is tried
    // afresh; within one scan it is still tried only once.
    if (!SWBComPort.Open()) OpenedPort = 0;
    StatusProgressBar->setValue(0);
    ScanSpeedButton->setEnabled(false);
    ComPortComboBox->setEnabled(false);
    BaudrateComboBox->setEnabled(false);

    const int idx = ComPortComboBox->ItemIndex();
    int32_t result = 0;
    int32_t candidate = 0;
    if (ComPortComboBox->currentText() == kAuto) {
        int k = 1;
        for (int n = 1; n <= 16; ++n)
            if (PortAvailable(n)) ++k;
        ScanStep = StatusProgressBar->maximum() / k / kBaudItems;
        for (candidate = 1; candidate <= 16; ++candidate) {
            result = ScanBaud(candidate);
            if (result > 0) break;
        }
        candidate = std::min(candidate, 16);
    } else {
        ScanStep = StatusProgressBar->maximum() / kBaudItems;
        result = ScanBaud(idx);
        candidate = idx;
    }
    ScanSpeedButton->setEnabled(true);

    if (result > 0) {
        ConnectedPort = candidate;
        ConnectedBaud = result;
        connect();
        // The head of the board's input-change frame. Registrations outlive the port's close,
        // so every successful scan adds one more.
        SWBComPort.AddTriggerString(std::string_view("\xC1\xB2\xE1", 3), false);
    } else {
        StatusProgressBar->setValue(0);
        ComPortComboBox->setEnabled(true);
        BaudrateComboBox->setEnabled(true);
        SWBStatusBar->SetPanelText(1, QStringLiteral("SWB808 not found"));
    }
}

}  // namespace swb808
