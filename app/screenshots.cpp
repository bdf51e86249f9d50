// Saves pictures of the real window, page by page, for the README:
//   xvfb-run -a env QT_QPA_PLATFORM=xcb swb808-screenshots docs
// The caption comes from the record of the swb808 executable built beside this tool.
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <cstdio>

#include "ui/main_window.h"

namespace {

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
    swb808::TSWB808Form form;
    form.SetExecutableFileName(argc > 2 ? argv[2] : SWB808_EXECUTABLE);
    form.show();
    bool ok = true;
    const char* names[] = {"welcome", "configuration", "control", "firmware"};
    for (int page = 0; page < 4; ++page) {
        form.PageControl->setCurrentIndex(page);
        ok &= Save(form, out.filePath(QStringLiteral("window-%1.png").arg(names[page])));
    }
    // The control page as a connected board would fill it (values set here, no board).
    form.ControlTabSheet->setEnabled(true);
    for (int i : {0, 2, 5}) form.RelLeds[i]->SetLedState(swb808::stOn);
    for (int i : {1, 2}) form.OptoLeds[i]->SetLedState(swb808::stOn);
    form.VccPanel->SetCaption(QStringLiteral("5.02 V"));
    form.VccPanel->SetColor(swb808::clVccGood);
    form.PageControl->setCurrentIndex(2);
    ok &= Save(form, out.filePath(QStringLiteral("window-control-connected.png")));
    return ok ? 0 : 1;
}
