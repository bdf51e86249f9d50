// The window as its program runs it, with the signal handling of app/main.cpp, on the ports of
// SWB808_PORT_DIR. Without arguments it connects by a real scan to the board on COM3 at
// 9600 Bd and prints "connected"; with `--flash IMAGE` it prints "flashing" and flashes the
// image through the bootloader search. Then it runs until it is closed.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/termination_signals.h"
#include "protocol/paced_wait.h"
#include "ui/main_window.h"
#include "ui/status_bar.h"
#include "ui/window_controls.h"

namespace {

bool Connect(swb808::TSWB808Form& form) {
    form.ComPortComboBox->SetItemIndex(form.ComPortComboBox->findText(QStringLiteral("COM3")));
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QStringLiteral("9600")));
    form.ScanSpeedButton->click();  // the scan runs inside the click
    if (!form.Connected) {
        std::printf("not connected: %s\n", qPrintable(form.SWBStatusBar->PanelText(1)));
        return false;
    }
    std::printf("connected\n");
    std::fflush(stdout);
    return true;
}

bool Flash(swb808::TSWB808Form& form, const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(form.FirmwareImage.data()),
                   static_cast<std::streamsize>(form.FirmwareImage.size()))) {
        std::printf("no image in %s\n", path);
        return false;
    }
    form.FirmwareLoaded = true;
    form.BootloaderCheckBox->SetChecked(true);
    std::printf("flashing\n");
    std::fflush(stdout);
    form.UpdateSpeedButtonClick();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    swb808::SetEventPump([] { QCoreApplication::processEvents(); });
    swb808::TSWB808Form form;
    swb808::CloseOnTerminationSignals(form);
    form.show();
    const bool flash = argc == 3 && std::strcmp(argv[1], "--flash") == 0;
    if (!(flash ? Flash(form, argv[2]) : Connect(form))) return 1;
    return app.exec();
}
