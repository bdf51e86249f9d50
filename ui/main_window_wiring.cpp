#include <QTimer>

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_port_notifier.h"
#include "ui/window_controls.h"

namespace swb808 {

// The connection and firmware logic connects its handlers here, one line per control. Every
// handler runs through RunHandler, so an exception it lets escape is shown, never thrown
// into Qt.
// FormClose runs from closeEvent.
void TSWB808Form::WireLogicHandlers() {
    ScanSpeedButton->OnClick = [this] { RunHandler([this] { ScanSpeedButtonClick(); }); };
    SaveSpeedButton->OnClick = [this] { RunHandler([this] { SaveSpeedButtonClick(); }); };
    ResetSpeedButton->OnClick = [this] { RunHandler([this] { ResetSpeedButtonClick(); }); };
    for (auto* led : RelLeds)
        led->OnClick = [this](LedIndicator& l) { RunHandler([this, &l] { RelLed1Click(l); }); };
    LoadSpeedButton->OnClick = [this] { RunHandler([this] { LoadSpeedButtonClick(); }); };
    BootloaderCheckBox->OnClick = [this] { RunHandler([this] { BootloaderCheckBoxClick(); }); };
    UpdateSpeedButton->OnClick = [this] { RunHandler([this] { UpdateSpeedButtonClick(); }); };

    // The port's notifications run on this thread, also inside the logic's waits.
    Session.SetHandlerRunner([](const std::function<void()>& handler) { RunHandler(handler); });
    portNotifier_ = TQtPortNotifier::AttachTo(SWBComPort);
    auto* lineCheck = new QTimer(this);
    QObject::connect(lineCheck, &QTimer::timeout, this,
                     [this] { RunHandler([this] { SWBComPortLineCheck(); }); });
    lineCheck->start(BoardSession::kLineCheckPeriodMs);
}

}  // namespace swb808
