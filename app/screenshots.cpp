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
    return ok ? 0 : 1;
}
