// swb808ctl: the board from the shell.

#include <QCoreApplication>
#include <QJsonDocument>
#include <QStringList>

#include <cstdio>
#include <exception>

#include "cli/arguments.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/interrupt.h"

namespace swb808::cli {

ExitStatus RunCommand(const Request& request, Output& out) {
    switch (request.command) {
        case Command::Scan:
            return RunScan(request, out);
        case Command::Info:
            return RunInfo(request, out);
        case Command::Relay:
            return RunRelay(request, out);
        case Command::Relays:
            return RunRelays(request, out);
        case Command::Inputs:
            return RunInputs(request, out);
        case Command::Supply:
            return RunSupply(request, out);
        case Command::Watch:
            return RunWatch(request, out);
        case Command::Config:
            return RunConfig(request, out);
        case Command::ConfigSet:
            return RunConfigSet(request, out);
        case Command::Reset:
            return RunReset(request, out);
        case Command::Flash:
            return RunFlash(request, out);
    }
    return ExitStatus::Usage;
}

}  // namespace swb808::cli

int main(int argc, char** argv) {
    using namespace swb808::cli;
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const ParseResult parsed = ParseArguments(args);
    if (!parsed.request) {
        if (!parsed.output.empty()) {
            std::fputs(parsed.output.c_str(), stdout);
            return 0;
        }
        std::fprintf(stderr, "swb808ctl: %s\n", parsed.error.c_str());
        if (args.contains("--json")) {
            const QJsonObject failure = FailureJson(ExitStatus::Usage, parsed.error);
            std::fputs(QJsonDocument(failure).toJson().constData(), stdout);
        }
        return int(ExitStatus::Usage);
    }
    InstallInterruptHandling();
    Output out(parsed.request->json, parsed.request->quiet);
    try {
        return int(RunCommand(*parsed.request, out));
    } catch (const CliFailure& f) {
        out.Error(f.what());
        out.Document(FailureJson(f.Status(), f.what()));
        return int(f.Status());
    } catch (const Interrupted&) {
        out.Error("interrupted; the port is closed");
        out.Document(FailureJson(ExitStatus::Interrupted, "interrupted; the port is closed"));
        return int(ExitStatus::Interrupted);
    } catch (const std::exception& e) {
        out.Error(e.what());
        out.Document(FailureJson(ExitStatus::PortError, e.what()));
        return int(ExitStatus::PortError);
    }
}
