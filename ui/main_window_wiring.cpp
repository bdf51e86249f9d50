#include "ui/main_window.h"

namespace swb808 {

// The connection and firmware logic connects its handlers here, one line per control, as
// its sources join swb808_window (the handlers are declared in main_window.h):
//   ScanSpeedButton->OnClick    = [this] { ScanSpeedButtonClick(); };
//   SaveSpeedButton->OnClick    = [this] { SaveSpeedButtonClick(); };
//   ResetSpeedButton->OnClick   = [this] { ResetSpeedButtonClick(); };
//   for (auto* led : RelLeds) led->OnClick = [this](LedIndicator& l) { RelLed1Click(l); };
//   LoadSpeedButton->OnClick    = [this] { LoadSpeedButtonClick(); };
//   UpdateSpeedButton->OnClick  = [this] { UpdateSpeedButtonClick(); };
//   BootloaderCheckBox->OnClick = [this] { BootloaderCheckBoxClick(); };
// FormClose runs from closeEvent, which that logic overrides along with it.
void TSWB808Form::WireLogicHandlers() {}

}  // namespace swb808
