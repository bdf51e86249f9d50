// "Flash" in the window: the transfer is the session's (firmware/firmware_transfer.h); the
// window holds a close back while the board is taking blocks.

#include <QMetaObject>

#include "ui/main_window.h"
#include "ui/window_controls.h"
#include "firmware/firmware_transfer.h"

namespace swb808 {

namespace {

const QString kCloseWaitsLine =
    QStringLiteral("Das Programm wird beendet, sobald das Flashen abgeschlossen ist.");
const QString kCloseWaitsPanel = QStringLiteral("schließt nach dem Flashen");
constexpr int kStatusPanelWidth = 200;  // panel 1 while the close notice is shown

}  // namespace

// Marks the window as flashing for the handler's lifetime, however it ends. A close asked
// for meanwhile was held back; it is carried out once the handler has returned.
class TFlashRun {
  public:
    TFlashRun(TSWB808Form& form, FirmwareTransfer& transfer) : form_(form) {
        form_.transfer_ = &transfer;
        form_.closeAfterFlash_ = false;
    }
    ~TFlashRun() {
        form_.transfer_ = nullptr;
        if (form_.closeAfterFlash_) {
            form_.closeAfterFlash_ = false;
            QMetaObject::invokeMethod(
                &form_, [f = &form_] { f->close(); }, Qt::QueuedConnection);
        }
    }
    TFlashRun(const TFlashRun&) = delete;
    TFlashRun& operator=(const TFlashRun&) = delete;

  private:
    TSWB808Form& form_;
};

// A close in the middle of a transfer would send the reset frame into a loader that is taking
// the image and leave the flash half written, so it waits for the transfer's end. The
// caption stays; the notice goes where the block texts do not overwrite it.
bool TSWB808Form::HoldCloseDuringFlash() {
    if (transfer_ == nullptr || !transfer_->SendingBlocks()) return false;
    if (!closeAfterFlash_) {
        closeAfterFlash_ = true;
        ErrorMemo->AddLine(kCloseWaitsLine);
        if (SWBStatusBar->PanelCount() < 3) {
            SWBStatusBar->SetPanelWidth(1, kStatusPanelWidth);
            SWBStatusBar->AddPanel(width() - SWBStatusBar->PanelRight(1) - 3, kCloseWaitsPanel);
        } else {
            SWBStatusBar->SetPanelText(2, kCloseWaitsPanel);
        }
    }
    return true;
}

void TSWB808Form::UpdateSpeedButtonClick() {
    FirmwareTransfer transfer(Session);
    const TFlashRun run(*this, transfer);
    Session.ClearStopRequest();
    transfer.Run(FirmwareImage);
}

}  // namespace swb808
