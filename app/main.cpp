#include <QApplication>
#include <QStyleFactory>

#include "app/termination_signals.h"
#include "protocol/paced_wait.h"
#include "ui/artwork.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Wayland takes the window's icon from the desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("swb808"));
    QApplication::setWindowIcon(swb808::ProgramIcon());
    // Waits of the logic keep the window alive: each turn handles what is pending.
    swb808::SetEventPump([] { QCoreApplication::processEvents(); });
    swb808::TSWB808Form form;
    swb808::CloseOnTerminationSignals(form);
    form.show();
    return app.exec();
}
