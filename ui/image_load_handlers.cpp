// "Aus Datei" and the "Update per Bootloader" check box: loading an image and deciding when
// "Flash" may be clicked.

#include <QFile>
#include <stdexcept>

#include "ui/ansi_text.h"
#include "firmware/firmware_image.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808 {

namespace {

QString Text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

}  // namespace

void TSWB808Form::LoadSpeedButtonClick() {
    FirmwareLoaded = false;
    const std::optional<QString> chosen =
        CurrentDialogs().OpenFileName(QString::fromLatin1(kFirmwareFileFilter));
    if (!chosen) return;
    // Shown before any check, so a rejected file is still named.
    FilenameLabel->setText(*chosen);

    const std::string path = QFile::encodeName(*chosen).toStdString();
    // FirmwareImage is replaced only by a complete read: a failed load never leaves a half-new
    // image behind a "Flash" button that an earlier load enabled.
    const TImageLoadResult result = LoadFirmwareImage(path, FirmwareImage);
    switch (result.Status) {
        case TImageLoadStatus::CannotOpen:
            // Ends the handler; the general error display shows it.
            throw std::runtime_error(ImageLoadErrorText(result, path));
        case TImageLoadStatus::WrongSize:
        case TImageLoadStatus::ShortRead:
            CurrentDialogs().ShowError(Text(ImageLoadErrorText(result, path)));
            return;
        case TImageLoadStatus::Loaded:
        case TImageLoadStatus::LoadedWithoutVersion:
            break;
    }

    FirmwareLoaded = true;
    if (Connected || BootloaderCheckBox->Checked()) UpdateSpeedButton->setEnabled(true);
    NewVersionLabel->setText(AnsiToQString(result.Version));
    if (NewVersionLabel->text().isEmpty()) CurrentDialogs().ShowWarning(Text(kNoVersionText));
}

void TSWB808Form::BootloaderCheckBoxClick() {
    UpdateSpeedButton->setEnabled(FirmwareLoaded && (BootloaderCheckBox->Checked() || Connected));
}

}  // namespace swb808
