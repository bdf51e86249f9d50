// Entering and leaving the connected state, and the window's end.

#include <QCloseEvent>
#include <QLocale>

#include "connection/ansi_text.h"
#include "protocol/device_records.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace swb808 {

namespace {

void ShowMask(const std::array<LedIndicator*, 8>& leds, uint8_t mask) {
    for (int n = 0; n < 8; ++n) leds[n]->SetLedState(mask >> n & 1 ? stOn : stOff);
}

}  // namespace

void TSWB808Form::setrelaisleds(uint8_t mask) {
    ShowMask(RelLeds, mask);
}

void TSWB808Form::setoptoleds(uint8_t mask) {
    ShowMask(OptoLeds, mask);
}

void TSWB808Form::connect() {
    Connected = true;
    staleWaiting_ = 0;
    ConfigTabSheet->setEnabled(true);
    ControlTabSheet->setEnabled(true);
    StatusProgressBar->setValue(StatusProgressBar->maximum());

    const QString version = AnsiToQString(Protocol.FirmwareVersion);
    SWBStatusBar->SetPanelText(
        1, QStringLiteral("SWB808 found at COM%1 at %2 Baud, Firmware Version %3")
               .arg(ConnectedPort)
               .arg(ConnectedBaud)
               .arg(version));
    ErrorMemo->SetFontColor(clBlack);
    ErrorMemo->AddLine(QStringLiteral("COM%1: Baud=%2: SWB808 gefunden, Firmware Version %3")
                           .arg(ConnectedPort)
                           .arg(ConnectedBaud)
                           .arg(version));
    IdLabel->setText(AnsiToQString(Protocol.DeviceId));
    VersionLabel->setText(version);

    setrelaisleds(Protocol.RelayState);
    setoptoleds(Protocol.OptoState);

    const double volts = VccVolts(uint32_t(Protocol.VccRaw));
    VccPanel->SetCaption(
        QString::fromStdString(VccText(volts, QLocale().decimalPoint().toStdString())));
    VccPanel->SetColor(VccColor(volts));

    NewBaudComboBox->setEnabled(true);
    errSpinEdit->setEnabled(true);
    hsSpinEdit->setEnabled(true);
    const auto& cfg = Protocol.DeviceConfig;
    NewBaudComboBox->SetItemIndex(cfg[0]);  // above 14: no item selected
    errSpinEdit->SetValue(cfg[1] + 256 * cfg[2]);
    hsSpinEdit->SetValue(cfg[3] + 256 * cfg[4]);
    KeepLastCheckBox->SetChecked(cfg[5] & kCfgKeepRelays);
    // A checked "off" button runs its click handler, which disables its spin edit again.
    hsRadioButtonOff->SetChecked(cfg[5] & kCfgNoRetry);
    errRadioButtonOff->SetChecked(cfg[5] & kCfgIgnoreErrors);

    SaveSpeedButton->setEnabled(true);
    ResetSpeedButton->setEnabled(true);
    ScanSpeedButton->setText(QStringLiteral("Close"));
    if (FirmwareLoaded) UpdateSpeedButton->setEnabled(true);
    if (PageControl->currentIndex() == 0) PageControl->setCurrentIndex(1);
}

void TSWB808Form::disconnect() {
    Connected = false;
    ConnectedPort = 0;
    ConnectedBaud = 0;
    OpenedPort = 0;

    ComPortComboBox->setEnabled(true);
    BaudrateComboBox->setEnabled(true);
    ConfigTabSheet->setEnabled(false);
    ControlTabSheet->setEnabled(false);
    StatusProgressBar->setValue(0);
    SWBStatusBar->SetPanelText(1, QStringLiteral("disconnected"));

    IdLabel->setText(QStringLiteral("(unbekannt, bitte Scan durchführen)"));
    VersionLabel->setText(QStringLiteral("(unbekannt)"));
    VccPanel->SetCaption(QStringLiteral("0.00 V"));
    VccPanel->SetColor(kVccBadColor);

    SaveSpeedButton->setEnabled(false);
    ResetSpeedButton->setEnabled(false);
    ScanSpeedButton->setText(QStringLiteral("Scan"));

    NewBaudComboBox->SetItemIndex(NewBaudComboBox->count() - 1);
    errSpinEdit->SetValue(2);
    hsSpinEdit->SetValue(1);
    KeepLastCheckBox->SetChecked(false);
    hsRadioButtonOff->SetChecked(false);
    hsRadioButtonOn->SetChecked(true);
    errRadioButtonOff->SetChecked(false);
    errRadioButtonOn->SetChecked(true);
    // After the radio buttons: their click handlers have just enabled the spin edits.
    NewBaudComboBox->setEnabled(false);
    errSpinEdit->setEnabled(false);
    hsSpinEdit->setEnabled(false);

    setrelaisleds(0);
    setoptoleds(0);
    UpdateSpeedButton->setEnabled(FirmwareLoaded && BootloaderCheckBox->Checked());

    try {
        SWBComPort.DiscardOutput();
        SWBComPort.SetOpen(false);
    } catch (...) {
    }
}

// Runs every half second, also inside the waits of other handlers. A transfer and the
// input-change handler watch the line themselves; anything else may be cut short, as the
// close is deferred while a notification is being handled.
void TSWB808Form::SWBComPortLineCheck() {
    if (!Connected || FlashRunning) return;
    if (SWBComPort.LineLost()) {
        const int32_t com = ConnectedPort;
        disconnect();
        TellLineLost(com);  // after disconnect, whose "disconnected" would hide it
        return;
    }
    if (inputChangeDepth_ == 0) DropStaleInput();
}

void TSWB808Form::TellLineLost(int32_t com) {
    const QString text = QStringLiteral("COM%1: Verbindung zum Gerät verloren").arg(com);
    ErrorMemo->SetFontColor(clRed);
    ErrorMemo->AddLine(text);
    SWBStatusBar->SetPanelText(1, text);
}

bool TSWB808Form::DropLostLine() {
    if (!SWBComPort.Open() || !SWBComPort.LineLost()) return false;
    TellLineLost(SWBComPort.ComNumber());
    try {
        SWBComPort.DiscardOutput();
        SWBComPort.SetOpen(false);
    } catch (...) {
    }
    OpenedPort = 0;  // the device may come back under the same name: open it afresh then
    return true;
}

void TSWB808Form::FormClose() {
    if (!Connected) return;
    Protocol.Payload[0] = 0;
    Protocol.SendCommand(0xBA, 1);
}

void TSWB808Form::closeEvent(QCloseEvent* event) {
    if (HoldCloseDuringFlash()) return event->ignore();
    RunHandler([this] { FormClose(); });
    QWidget::closeEvent(event);
}

TSWB808Form::~TSWB808Form() {
    // The port goes before the widgets its handlers touch.
    SWBComPort.OnTriggerData = nullptr;
    try {
        if (SWBComPort.Open()) {
            SWBComPort.DiscardOutput();
            SWBComPort.SetOpen(false);
        }
    } catch (...) {
    }
}

}  // namespace swb808
