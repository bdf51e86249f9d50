#include "app/termination_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>

namespace swb808 {

namespace {

// The handler only writes the signal's number into a socket; the event loop reads it.
int signalSocket[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    (void)!::send(signalSocket[1], &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}

}  // namespace

void CloseOnTerminationSignals(QWidget& window) {
    if (signalSocket[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return;  // the default action stays: the program ends
    auto* notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(signalSocket[0], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGTERM, SIGHUP}) ::sigaction(signo, &action, nullptr);
}

}  // namespace swb808
