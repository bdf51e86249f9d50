// Saves pictures of the real window, page by page, for the README (scripts/screenshots):
//   xvfb-run -a env QT_QPA_PLATFORM=xcb swb808-screenshots docs
// The first pictures show the window at start; the last one shows it connected to a simulated
// board on COM3 of a port directory of its own, found by a real scan.
// The caption comes from the record of the swb808 executable built beside this tool.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"
#include "ui/status_bar.h"

namespace {

// What the simulated board shows: relays 1, 3 and 6 on, inputs 2 and 3 on, 5.02 V.
constexpr uint8_t kRelays = 0x25;
constexpr uint8_t kInputs = 0x06;
constexpr uint16_t kVccRaw = 828;
constexpr int kBoardCom = 3;
constexpr unsigned kBoardBaud = 9600;

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

bool Save(swb808::TSWB808Form& form, const QString& path) {
    Settle();
    const QRect frame = form.frameGeometry();
    const QPixmap shot =
        form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// Scans the one port and rate of the board, then lets the board report an input change.
bool ConnectToBoard(swb808::TSWB808Form& form, swb808::sim::BoardSimulator& board) {
    form.ComPortComboBox->SetItemIndex(
        form.ComPortComboBox->findText(QStringLiteral("COM%1").arg(kBoardCom)));
    form.BaudrateComboBox->SetItemIndex(
        form.BaudrateComboBox->findText(QString::number(kBoardBaud)));
    form.ScanSpeedButton->click();  // the scan runs inside the click
    if (!form.Connected) {
        std::fprintf(stderr, "no board found: %s\n",
                     qPrintable(form.SWBStatusBar->PanelText(1)));
        return false;
    }
    board.SetInputs(kInputs);
    const auto inputsShown = [&] {
        for (int i : {1, 2})
            if (form.OptoLeds[i]->LedState() != swb808::stOn) return false;
        return true;
    };
    if (!WaitFor(inputsShown, 5000)) {
        std::fprintf(stderr, "the input change was not shown\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    swb808::SetEventPump([] { QCoreApplication::processEvents(); });
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));

    // The window looks only at this directory for its ports, so no real device is touched.
    QTemporaryDir ports;
    if (!ports.isValid()) {
        std::fprintf(stderr, "no temporary directory for the ports\n");
        return 1;
    }
    setenv("SWB808_PORT_DIR", qPrintable(ports.path()), 1);
    swb808::sim::BoardOptions options;
    options.link = QDir(ports.path()).filePath(QStringLiteral("com%1").arg(kBoardCom)).toStdString();
    options.baud = kBoardBaud;
    options.relays = kRelays;
    options.vcc = kVccRaw;
    swb808::sim::BoardSimulator board(options);
    board.Start();

    swb808::TSWB808Form form;
    form.SetExecutableFileName(argc > 2 ? argv[2] : SWB808_EXECUTABLE);
    form.show();
    bool ok = true;
    const char* names[] = {"welcome", "configuration", "control", "firmware"};
    for (int page = 0; page < 4; ++page) {
        form.PageControl->setCurrentIndex(page);
        ok &= Save(form, out.filePath(QStringLiteral("window-%1.png").arg(names[page])));
    }
    form.PageControl->setCurrentIndex(2);
    if (!ConnectToBoard(form, board)) return 1;
    ok &= Save(form, out.filePath(QStringLiteral("window-control-connected.png")));
    return ok ? 0 : 1;
}
