// "Flash": the image goes to the board's loader, entered through the running firmware or
// found by probing every port for a bootloader. Bytes, counts and waits are what the board's
// loader expects; they must not be tuned.

#include <QMetaObject>

#include "protocol/paced_wait.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace swb808 {

namespace {

constexpr uint8_t kUpdateCommand = 0xBB;
constexpr uint8_t kProbeByte = 0x78;  // "x"
constexpr uint8_t kAnswerFirst = 0x00;
constexpr uint8_t kAnswerSecond = 0x1E;
constexpr int32_t kFirstComPort = 1;
constexpr int32_t kLastComPort = 16;
constexpr int32_t kProbesPerPort = 129;
constexpr int32_t kPollsPerProbe = 11;
constexpr int32_t kBootloaderBaudItem = 7;  // "19200" in the board's rate list
constexpr int32_t kImageSize = 6144;
constexpr int32_t kBlockSize = 64;
constexpr int32_t kAnswerPolls = 1000;
constexpr int kPollMs = 10;
constexpr int kDrainTurnMs = 100;

const QString kNoLoaderText = QStringLiteral("Gerät/Bootloader reagiert nicht, Abbruch!");
const QString kNoAnswerText = QStringLiteral("Keine Rückmeldung beim Programmieren, Abbruch!");
const QString kWrongSumText = QStringLiteral("Falsche Prüfsumme beim Programmieren, Abbruch!");

// Marks the form as flashing for the handler's lifetime, however it ends. A close asked for
// meanwhile was held back; it is carried out once the handler has returned.
class FlashRun {
  public:
    explicit FlashRun(TSWB808Form& form) : form_(form) {
        form_.FlashRunning = true;
        form_.CloseAfterFlash = false;
    }
    ~FlashRun() {
        form_.FlashRunning = false;
        if (form_.CloseAfterFlash) {
            form_.CloseAfterFlash = false;
            QMetaObject::invokeMethod(
                &form_, [f = &form_] { f->close(); }, Qt::QueuedConnection);
        }
    }
    FlashRun(const FlashRun&) = delete;
    FlashRun& operator=(const FlashRun&) = delete;

  private:
    TSWB808Form& form_;
};

void SetStatus(TSWB808Form& f, const QString& text) {
    f.SWBStatusBar->SetPanelText(1, text);
}

// The running firmware is told to take an update; its answer is swept up unread.
void EnterUpdate(TSWB808Form& f) {
    f.Protocol.Payload[0] = 0x00;
    f.Protocol.SendCommand(kUpdateCommand, 1);
    PacedWait(f.ConnectedBaud > 0 ? 210000 / f.ConnectedBaud : 0);
    f.Protocol.RcvCommand(0);
}

// Probes COM1..COM16 for a bootloader; sets Connected when one answers, leaving the port open
// on it at the bootloader's rate.
void SearchBootloader(TSWB808Form& f) {
    TSerialPort& port = f.SWBComPort;
    SetStatus(f, QStringLiteral("synchronizing..."));
    f.OpenedPort = 0;
    for (int32_t com = kFirstComPort; com <= kLastComPort; ++com) {
        SetStatus(f, f.SWBStatusBar->PanelText(1) + QLatin1Char('.'));
        const int32_t baud = f.NewBaudComboBox->itemText(kBootloaderBaudItem).toInt();
        if (!f.OpenSWBPort(com, baud)) continue;
        for (int32_t probes = 1; probes <= kProbesPerPort; ++probes) {
            if (port.OutputFree() > 0) port.WriteByte(kProbeByte);
            for (int32_t poll = 0; poll < kPollsPerProbe; ++poll) {
                PacedWait(kPollMs);
                if (port.InputCount() >= 2) break;
            }
            // Exactly one pair a probe: a lone byte stays and leads the next pair.
            if (port.InputCount() >= 2) {
                const uint8_t first = port.ReadByte();
                const uint8_t second = port.ReadByte();
                if (first == kAnswerFirst && second == kAnswerSecond) f.Connected = true;
            }
            if (f.Connected || port.LineLost()) break;
        }
        if (f.Connected) break;
    }
}

// 96 blocks of 64 bytes, each followed by its sum and answered by the same sum. The first
// fault ends the transfer; nothing is retried.
void TransferImage(TSWB808Form& f) {
    TSerialPort& port = f.SWBComPort;
    const TFirmwareImage& image = f.FirmwareImage;
    for (int32_t offset = 0; offset < kImageSize;) {
        f.StatusProgressBar->setValue(f.StatusProgressBar->maximum() * offset / kImageSize);
        SetStatus(f, QStringLiteral("flashing...  Bytes %1").arg(offset));
        int32_t blocksum = 0;
        for (int32_t i = 0; i < kBlockSize; ++i) {
            const uint8_t b = image[static_cast<size_t>(offset + i)];
            if (port.OutputFree() > 0) port.WriteByte(b);
            blocksum += b;
        }
        if (port.OutputFree() > 0) port.WriteByte(static_cast<uint8_t>(blocksum % 256));
        if (port.OutputFree() > 0) port.WriteByte(static_cast<uint8_t>((blocksum / 256) % 256));
        offset += kBlockSize;

        while (port.OutputFree() < port.OutSize() && !port.LineLost()) PacedWait(kDrainTurnMs);
        bool answered = false;
        // A vanished device cannot answer: no use sitting out the answer wait.
        for (int32_t poll = 0; poll < kAnswerPolls && !answered && !port.LineLost(); ++poll) {
            PacedWait(kPollMs);
            answered = port.InputCount() >= 2;
        }
        if (!answered) {
            if (port.LineLost()) f.TellLineLost(port.ComNumber());
            PacedWait(kPollMs);
            CurrentDialogs().ShowError(kNoAnswerText);
            break;
        }
        const uint8_t first = port.ReadByte();
        const uint8_t second = port.ReadByte();
        if (first + 256 * second != blocksum) {
            CurrentDialogs().ShowError(kWrongSumText);
            break;
        }
    }
}

}  // namespace

// A close in the middle of a transfer would send the reset frame into a loader that is taking
// the image and leave the flash half written, so it waits for the transfer's end.
bool TSWB808Form::HoldCloseDuringFlash() {
    if (!FlashRunning) return false;
    if (!CloseAfterFlash) {
        CloseAfterFlash = true;
        setWindowTitle(windowTitle() + QStringLiteral(" (schließt nach dem Flashen)"));
    }
    return true;
}

void TSWB808Form::UpdateSpeedButtonClick() {
    FlashRun run(*this);
    ScanSpeedButton->setEnabled(false);
    UpdateSpeedButton->setEnabled(false);
    LoadSpeedButton->setEnabled(false);
    ILoadSpeedButton->setEnabled(false);
    BootloaderCheckBox->setEnabled(false);
    ConfigTabSheet->setEnabled(false);
    ControlTabSheet->setEnabled(false);
    StatusProgressBar->setValue(0);

    if (Connected)
        EnterUpdate(*this);
    else
        SearchBootloader(*this);

    if (Connected) {
        TransferImage(*this);
        SetStatus(*this, QStringLiteral("rebooting..."));
        BootloaderCheckBox->SetChecked(false);
        disconnect();
    } else {
        CurrentDialogs().ShowError(kNoLoaderText);
        SetStatus(*this, QStringLiteral("rebooting..."));
        disconnect();
    }

    ScanSpeedButton->setEnabled(true);
    LoadSpeedButton->setEnabled(true);
    ILoadSpeedButton->setEnabled(true);
    BootloaderCheckBox->setEnabled(true);
}

}  // namespace swb808
