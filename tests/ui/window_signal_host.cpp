// The window as its program runs it, with the signal handling of app/main.cpp, connected by a
// real scan to the board on COM3 at 9600 Bd of SWB808_PORT_DIR. Prints "connected" once it
// is, then runs until it is closed.
#include <QApplication>
#include <cstdio>

#include "app/termination_signals.h"
#include "protocol/paced_wait.h"
#include "ui/main_window.h"
#include "ui/status_bar.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    swb808::SetEventPump([] { QCoreApplication::processEvents(); });
    swb808::TSWB808Form form;
    swb808::CloseOnTerminationSignals(form);
    form.show();
    form.ComPortComboBox->SetItemIndex(form.ComPortComboBox->findText(QStringLiteral("COM3")));
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QStringLiteral("9600")));
    form.ScanSpeedButton->click();  // the scan runs inside the click
    if (!form.Connected) {
        std::printf("not connected: %s\n", qPrintable(form.SWBStatusBar->PanelText(1)));
        return 1;
    }
    std::printf("connected\n");
    std::fflush(stdout);
    return app.exec();
}
