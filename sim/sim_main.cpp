// swb808-sim: a simulated SWB808 board on a pseudo-terminal, for trying the program without a
// board and for end-to-end tests.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "sim/board_simulator.h"
#include "sim/command_line.h"

int main(int argc, char** argv) {
    using namespace swb808::sim;
    const char* dir = std::getenv("SWB808_PORT_DIR");
    CommandLine cl =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), dir ? dir : "");
    if (cl.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "swb808-sim: %s\n", cl.error.c_str());
        return 2;
    }

    // Signals are taken on a descriptor, so that every thread of the board runs undisturbed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    ::signal(SIGPIPE, SIG_IGN);

    BoardSimulator board(cl.options);
    try {
        board.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "swb808-sim: %s\n", e.what());
        return 1;
    }
    board.SetSilent(cl.silent);
    for (const auto& [kind, arg] : cl.faults) board.SetFault(kind, arg);
    std::printf("ready %s\n", cl.options.link.c_str());
    std::fflush(stdout);

    std::string pending;
    bool stdinOpen = true;
    for (;;) {
        pollfd p[2] = {{sigFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[0].revents & POLLIN) break;
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[512];
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                // Without a console the board runs on until it is stopped by a signal.
                stdinOpen = false;
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            bool quit = false;
            for (size_t nl; !quit && (nl = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                ConsoleReply r = RunConsoleCommand(board, line);
                if (!r.text.empty()) std::fprintf(r.ok ? stdout : stderr, "%s\n", r.text.c_str());
                std::fflush(stdout);
                quit = r.quit;
            }
            if (quit) break;
        }
    }
    board.Stop();
    return 0;
}
