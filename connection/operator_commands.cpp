// The operator's commands while a board is connected. None of them reads a reply.

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "protocol/device_records.h"
#include "protocol/paced_wait.h"
#include "ui/main_window.h"

namespace swb808 {

namespace {

constexpr uint8_t kCmdRelays = 0xB2;
constexpr uint8_t kCmdWriteConfig = 0xB4;
constexpr uint8_t kCmdReset = 0xBA;

// A value that does not fit the byte or word it is to be stored in; shown by the general
// error display.
class ERangeError : public std::runtime_error {
  public:
    ERangeError() : std::runtime_error("Fehler bei Bereichsprüfung") {}
};

template <typename T>
T Checked(int value) {
    if (value < 0 || value > int(std::numeric_limits<T>::max())) throw ERangeError();
    return T(value);
}

}  // namespace

void TSWB808Form::RelLed1Click(LedIndicator& sender) {
    const auto it = std::find(RelLeds.begin(), RelLeds.end(), &sender);
    if (it == RelLeds.end()) return;
    Protocol.RelayState ^= uint8_t(1u << (it - RelLeds.begin()));
    setrelaisleds(Protocol.RelayState);
    Protocol.Payload[0] = Protocol.RelayState;
    Protocol.SendCommand(kCmdRelays, 1);
}

void TSWB808Form::SaveSpeedButtonClick() {
    // No selected item (the board reported a rate code above 14) cannot be written.
    const auto record = ConfigWriteRecord(
        Checked<uint8_t>(NewBaudComboBox->ItemIndex()), Checked<uint16_t>(errSpinEdit->Value()),
        Checked<uint16_t>(hsSpinEdit->Value()), KeepLastCheckBox->Checked(),
        hsRadioButtonOff->Checked(), errRadioButtonOff->Checked());
    std::copy_n(record.begin(), Protocol.DeviceConfig.size(), Protocol.DeviceConfig.begin());
    std::copy(record.begin(), record.end(), Protocol.Payload.begin());
    Protocol.SendCommand(kCmdWriteConfig, int32_t(record.size()));
}

void TSWB808Form::ResetSpeedButtonClick() {
    Protocol.Payload[0] = 0;
    Protocol.SendCommand(kCmdReset, 1);
    // The board may restart at the rate "Speichern" stored: search them all.
    BaudrateComboBox->SetItemIndex(0);
    disconnect();
    ScanSpeedButton->setEnabled(false);
    PacedWait(2000);
    ScanSpeedButtonClick();
}

}  // namespace swb808
