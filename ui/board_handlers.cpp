// The prescribed handlers of the board logic: each forwards to the window's session.

#include <QCloseEvent>
#include <algorithm>

#include "protocol/board_facts.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"
#include "ui/window_view.h"

namespace swb808 {

namespace {

const QString kAuto = QStringLiteral("auto");

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

ScanRequest TSWB808Form::PickedScan() const {
    ScanRequest request;
    request.ports = ComPortComboBox->currentText() == kAuto
                        ? AllComPorts()
                        : std::vector{PortRef::Com(ComPortComboBox->ItemIndex())};
    request.rates = BaudrateComboBox->currentText() == kAuto
                        ? ScanRequest::AllRates()
                        : std::vector{int32_t(BaudrateComboBox->currentText().toInt())};
    return request;
}

bool TSWB808Form::OpenSWBPort(int32_t port, int32_t baud) {
    return Session.OpenSWBPort(PortRef::Com(port), baud);
}

int32_t TSWB808Form::ScanConnect(int32_t port, int32_t baud) {
    return Session.ScanConnect(PortRef::Com(port), baud);
}

int32_t TSWB808Form::ScanBaud(int32_t port) {
    const ScanRequest picked = PickedScan();
    return Session.ScanBaud(PortRef::Com(port), picked.rates, picked.rates.size() > 1);
}

void TSWB808Form::ScanSpeedButtonClick() {
    if (Connected) return Session.Close();
    Session.ClearStopRequest();
    Session.Scan(PickedScan());
}

void TSWB808Form::connect() {
    Session.connect();
}

void TSWB808Form::disconnect() {
    Session.disconnect();
}

void TSWB808Form::SWBComPortTriggerData(TSerialPort& CP, uint16_t TriggerHandle) {
    Session.SWBComPortTriggerData(CP, TriggerHandle);
}

void TSWB808Form::SWBComPortLineCheck() {
    Session.LineCheck();
}

bool TSWB808Form::DropLostLine() {
    return Session.DropLostLine();
}

void TSWB808Form::TellLineLost(int32_t com) {
    Session.TellLineLost(PortRef::Com(com).Name());
}

void TSWB808Form::RelLed1Click(LedIndicator& sender) {
    const auto it = std::find(RelLeds.begin(), RelLeds.end(), &sender);
    if (it == RelLeds.end()) return;
    Session.ToggleRelay(int(it - RelLeds.begin()) + 1);
}

ConfigValues TSWB808Form::ConfigControls() const {
    return ConfigValues{NewBaudComboBox->ItemIndex(), errSpinEdit->Value(),
                        hsSpinEdit->Value(),          KeepLastCheckBox->Checked(),
                        hsRadioButtonOff->Checked(),  errRadioButtonOff->Checked()};
}

void TSWB808Form::SaveSpeedButtonClick() {
    Session.SaveConfig(ConfigControls());
}

void TSWB808Form::ResetSpeedButtonClick() {
    Session.Reset({});
    ScanSpeedButtonClick();
}

void TSWB808Form::FormClose() {
    Session.FormClose();
}

void TSWB808Form::closeEvent(QCloseEvent* event) {
    if (HoldCloseDuringFlash()) return event->ignore();
    // A bootloader search ends within one probe; the transfer then ends without its box.
    if (FlashRunning()) Session.RequestStop();
    RunHandler([this] { FormClose(); });
    QWidget::closeEvent(event);
}

TSWB808Form::~TSWB808Form() {
    // The port goes before the widgets its handlers touch.
    Session.ClosePort();
}

}  // namespace swb808
