// The widgets' part of scanning, connecting, disconnecting and flashing; the logic is the
// session's. Each step keeps the order the window has always shown it in.

#include "ui/window_view.h"

#include <QLocale>

#include "protocol/device_records.h"
#include "ui/ansi_text.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808 {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

void TWindowView::StatusText(const std::string& text) {
    f_.SWBStatusBar->SetPanelText(1, Text(text));
}

void TWindowView::Message(const std::string& line, TColor colour) {
    f_.ErrorMemo->SetFontColor(colour);
    f_.ErrorMemo->AddLine(Text(line));
}

void TWindowView::Progress(int value) {
    f_.StatusProgressBar->setValue(value);
}

void TWindowView::ScanBegins() {
    f_.ScanSpeedButton->setEnabled(false);
    f_.ComPortComboBox->setEnabled(false);
    f_.BaudrateComboBox->setEnabled(false);
}

void TWindowView::ScanEnds(bool found) {
    f_.ScanSpeedButton->setEnabled(true);
    if (found) return;
    f_.ComPortComboBox->setEnabled(true);
    f_.BaudrateComboBox->setEnabled(true);
}

void TWindowView::Connected(const BoardRecords& records) {
    f_.ConfigTabSheet->setEnabled(true);
    f_.ControlTabSheet->setEnabled(true);
    f_.IdLabel->setText(AnsiToQString(records.deviceId));
    f_.VersionLabel->setText(AnsiToQString(records.firmwareVersion));

    f_.setrelaisleds(records.relays);
    f_.setoptoleds(records.inputs);

    const double volts = VccVolts(uint32_t(records.vccRaw));
    f_.VccPanel->SetCaption(
        QString::fromStdString(VccText(volts, QLocale().decimalPoint().toStdString())));
    f_.VccPanel->SetColor(VccColor(volts));

    f_.NewBaudComboBox->setEnabled(true);
    f_.errSpinEdit->setEnabled(true);
    f_.hsSpinEdit->setEnabled(true);
    const auto& cfg = records.config;
    f_.NewBaudComboBox->SetItemIndex(cfg[0]);  // above 14: no item selected
    f_.errSpinEdit->SetValue(cfg[1] + 256 * cfg[2]);
    f_.hsSpinEdit->SetValue(cfg[3] + 256 * cfg[4]);
    f_.KeepLastCheckBox->SetChecked(cfg[5] & kCfgKeepRelays);
    // A checked "off" button runs its click handler, which disables its spin edit again.
    f_.hsRadioButtonOff->SetChecked(cfg[5] & kCfgNoRetry);
    f_.errRadioButtonOff->SetChecked(cfg[5] & kCfgIgnoreErrors);

    f_.SaveSpeedButton->setEnabled(true);
    f_.ResetSpeedButton->setEnabled(true);
    f_.ScanSpeedButton->setText(QStringLiteral("Close"));
    if (f_.FirmwareLoaded) f_.UpdateSpeedButton->setEnabled(true);
    if (f_.PageControl->currentIndex() == 0) f_.PageControl->setCurrentIndex(1);
}

void TWindowView::Disconnected() {
    f_.ComPortComboBox->setEnabled(true);
    f_.BaudrateComboBox->setEnabled(true);
    f_.ConfigTabSheet->setEnabled(false);
    f_.ControlTabSheet->setEnabled(false);

    f_.IdLabel->setText(QStringLiteral("(unbekannt, bitte Scan durchführen)"));
    f_.VersionLabel->setText(QStringLiteral("(unbekannt)"));
    f_.VccPanel->SetCaption(QStringLiteral("0.00 V"));
    f_.VccPanel->SetColor(clVccBad);

    f_.SaveSpeedButton->setEnabled(false);
    f_.ResetSpeedButton->setEnabled(false);
    f_.ScanSpeedButton->setText(QStringLiteral("Scan"));

    f_.NewBaudComboBox->SetItemIndex(f_.NewBaudComboBox->count() - 1);
    f_.errSpinEdit->SetValue(2);
    f_.hsSpinEdit->SetValue(1);
    f_.KeepLastCheckBox->SetChecked(false);
    f_.hsRadioButtonOff->SetChecked(false);
    f_.hsRadioButtonOn->SetChecked(true);
    f_.errRadioButtonOff->SetChecked(false);
    f_.errRadioButtonOn->SetChecked(true);
    // After the radio buttons: their click handlers have just enabled the spin edits.
    f_.NewBaudComboBox->setEnabled(false);
    f_.errSpinEdit->setEnabled(false);
    f_.hsSpinEdit->setEnabled(false);

    f_.setrelaisleds(0);
    f_.setoptoleds(0);
    f_.UpdateSpeedButton->setEnabled(f_.FirmwareLoaded && f_.BootloaderCheckBox->Checked());
}

void TWindowView::ResetBegins() {
    f_.ScanSpeedButton->setEnabled(false);
}

void TWindowView::SelectAutoBaud() {
    f_.BaudrateComboBox->SetItemIndex(0);
}

void TWindowView::RelaysShown(uint8_t mask) {
    f_.setrelaisleds(mask);
}

void TWindowView::InputsShown(uint8_t mask) {
    f_.setoptoleds(mask);
}

void TWindowView::FlashBegins() {
    f_.ScanSpeedButton->setEnabled(false);
    f_.UpdateSpeedButton->setEnabled(false);
    f_.LoadSpeedButton->setEnabled(false);
    f_.ILoadSpeedButton->setEnabled(false);
    f_.BootloaderCheckBox->setEnabled(false);
    f_.ConfigTabSheet->setEnabled(false);
    f_.ControlTabSheet->setEnabled(false);
}

void TWindowView::FlashBlocksEnded() {
    f_.BootloaderCheckBox->SetChecked(false);
}

void TWindowView::FlashEnds() {
    f_.ScanSpeedButton->setEnabled(true);
    f_.LoadSpeedButton->setEnabled(true);
    f_.ILoadSpeedButton->setEnabled(true);
    f_.BootloaderCheckBox->setEnabled(true);
}

void TWindowView::ShowError(const std::string& text) {
    CurrentDialogs().ShowError(Text(text));
}

void TWindowView::ShowWarning(const std::string& text) {
    CurrentDialogs().ShowWarning(Text(text));
}

}  // namespace swb808
