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
#include "cli/stream_sink.h"

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

namespace {

using namespace swb808::cli;

ExitStatus Run(const Request& request, Output& out) {
    // Under --json a failure still leaves one document on stdout.
    const auto fail = [&out](ExitStatus status, const std::string& message) {
        out.Error(message);
        out.Document(FailureJson(status, message));
        return status;
    };
    try {
        return RunCommand(request, out);
    } catch (const CliFailure& f) {
        return fail(f.Status(), f.what());
    } catch (const OutputLost&) {
        // A reader that has gone ends a watch as it meant to; any other loss is told below.
        if (!out.StdoutFailure() && request.command == Command::Watch) return ExitStatus::Done;
        if (!out.StdoutFailure()) out.Error("stdout closed (broken pipe); stopped");
        return ExitStatus::OutputFailed;
    } catch (const Interrupted&) {
        return fail(ExitStatus::Interrupted, "interrupted; the port is closed");
    } catch (const std::exception& e) {
        return fail(ExitStatus::PortError, e.what());
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a file: a port must never become stdout.
    const ClosedStreams closed = GuardStandardStreams();
    InstallInterruptHandling();
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const ParseResult parsed = ParseArguments(args);
    // Under --json even a usage error is one document on stdout.
    const bool json = parsed.request ? parsed.request->json : args.contains("--json");
    Output out(json, parsed.request && parsed.request->quiet, closed);
    ExitStatus status = ExitStatus::Done;
    if (parsed.request) {
        status = Run(*parsed.request, out);
    } else if (!parsed.output.empty()) {
        out.Raw(parsed.output);
    } else {
        out.Error(parsed.error);
        out.Document(FailureJson(ExitStatus::Usage, parsed.error));
        status = ExitStatus::Usage;
    }
    // The result counts only when it reached stdout.
    if (const auto failure = out.StdoutFailure()) {
        out.Error(*failure);
        if (status == ExitStatus::Done) status = ExitStatus::OutputFailed;
    }
    return int(status);
}
