#include "cli/arguments.h"

#include <QCommandLineParser>

#include <algorithm>
#include <map>

#include "cli/exit_status.h"
#include "cli/port_target.h"
#include "protocol/board_facts.h"

namespace swb808::cli {

namespace {

const QCommandLineOption kPort("port", "", "P");
const QCommandLineOption kBaud("baud", "", "B");
const QCommandLineOption kJson("json");
const QCommandLineOption kQuiet(QStringList{"quiet", "q"});
const QCommandLineOption kVerbose(QStringList{"verbose", "v"});
const QCommandLineOption kDirect("direct");
const QCommandLineOption kHelp(QStringList{"help", "h"});
const QCommandLineOption kVersion(QStringList{"version", "V"});
const QCommandLineOption kCount("count", "", "N");
const QCommandLineOption kTimeout("timeout", "", "S");
const QCommandLineOption kErrorReport("error-report", "", "S");
const QCommandLineOption kRetry("retry", "", "S");
const QCommandLineOption kKeepRelays("keep-relays", "", "on|off");
const QCommandLineOption kReset("reset");
const QCommandLineOption kBootloader("bootloader");
const QCommandLineOption kWaitInput("wait-input", "", "M=high|low");
const QCommandLineOption kNoVerify("no-verify");
const QCommandLineOption kForce("force");

const std::map<QString, Command> kCommands = {
    {"scan", Command::Scan},     {"info", Command::Info},     {"relay", Command::Relay},
    {"relays", Command::Relays}, {"inputs", Command::Inputs}, {"supply", Command::Supply},
    {"watch", Command::Watch},   {"config", Command::Config}, {"reset", Command::Reset},
    {"flash", Command::Flash},
};

struct UsageError {
    std::string text;
};

struct HelpWanted {
    std::string text;
};

std::optional<int> ParseBaud(const QString& text, bool autoAllowed) {
    if (autoAllowed && text == "auto") return 0;
    bool ok = false;
    const int baud = text.toInt(&ok);
    if (!ok || !board::RateIndex(baud)) return std::nullopt;
    return baud;
}

const std::string kRateChoices = [] {
    std::string list;
    for (int32_t rate : board::kBaudRates) list += (list.empty() ? "" : " ") + std::to_string(rate);
    return list;
}();

DelaySetting ParseDelay(const QString& option, const QString& text, int min) {
    if (text == "off") return {true, 0};
    bool ok = false;
    const int s = text.toInt(&ok);
    if (!ok || s < min || s > 65535)
        throw UsageError{"--" + option.toStdString() + ": off or seconds " + std::to_string(min) +
                         "..65535"};
    return {false, s};
}

// "3", "2,5", "1-4", "all".
uint8_t ParseRelayList(const QString& text) {
    if (text == "all") return 0xFF;
    uint8_t bits = 0;
    for (const QString& part : text.split(',')) {
        const QStringList range = part.split('-');
        bool okFirst = false, okLast = false;
        const int first = range[0].toInt(&okFirst);
        const int last = range.size() == 2 ? range[1].toInt(&okLast) : first;
        if (range.size() == 1) okLast = okFirst;
        if (range.size() > 2 || !okFirst || !okLast || first < 1 || last > 8 || first > last)
            throw UsageError{"relay: N is 1..8, a list such as 2,5 or 1-4, or all"};
        for (int n = first; n <= last; ++n) bits |= uint8_t(1u << (n - 1));
    }
    return bits;
}

InputWait ParseInputWait(const QString& text) {
    const QStringList parts = text.split('=');
    bool ok = false;
    const int input = parts[0].toInt(&ok);
    if (parts.size() != 2 || !ok || input < 1 || input > 8 ||
        (parts[1] != "high" && parts[1] != "low"))
        throw UsageError{"--wait-input: M=high or M=low, M 1..8"};
    return {input, parts[1] == "high"};
}

void ExpectPositional(const QStringList& positional, int n, const std::string& usage) {
    if (positional.size() != n) throw UsageError{"usage: swb808ctl " + usage};
}

Request ParseCommand(const QString& word, const QStringList& rest, Request request) {
    const auto it = kCommands.find(word);
    if (it == kCommands.end())
        throw UsageError{"unknown command '" + word.toStdString() + "' (see --help)"};
    request.command = it->second;
    const bool configSet =
        request.command == Command::Config && !rest.isEmpty() && rest[0] == "set";
    if (configSet) request.command = Command::ConfigSet;

    QCommandLineParser p;
    p.addOptions({kPort, kJson, kQuiet, kVerbose, kDirect, kHelp});
    switch (request.command) {
        case Command::Watch:
            p.addOptions({kBaud, kCount, kTimeout});
            break;
        case Command::Relay:
        case Command::Relays:
            p.addOptions({kBaud, kWaitInput, kTimeout});
            break;
        case Command::ConfigSet:
            // Here --baud is the board's new rate; the line's rate goes before the command.
            p.addOptions({kBaud, kErrorReport, kRetry, kKeepRelays, kReset});
            break;
        case Command::Flash:
            p.addOptions({kBaud, kBootloader, kNoVerify, kForce});
            break;
        default:
            p.addOption(kBaud);
    }
    // A negative number would otherwise read as an unknown option.
    for (const QString& a : rest)
        if (a.size() > 1 && a[0] == '-' && a[1].isDigit())
            throw UsageError{word.toStdString() + ": '" + a.toStdString() +
                             "' is not a valid value (no negative numbers; see " +
                             word.toStdString() + " --help)"};
    if (!p.parse(QStringList{"swb808ctl"} + rest)) throw UsageError{p.errorText().toStdString()};
    if (p.isSet(kHelp))
        throw HelpWanted{CommandHelp(configSet ? "config set" : word.toStdString())};

    for (const QString& port : p.values(kPort)) request.ports.push_back(port.toStdString());
    request.json = request.json || p.isSet(kJson);
    request.quiet = request.quiet || p.isSet(kQuiet);
    request.verbose = request.verbose || p.isSet(kVerbose);
    request.direct = request.direct || p.isSet(kDirect);
    QStringList positional = p.positionalArguments();
    if (configSet) positional.removeFirst();

    if (p.values(kBaud).size() > 1)
        throw UsageError{request.command == Command::ConfigSet
                             ? "config set: --baud given twice (the line's rate goes before "
                               "\"config\")"
                             : "--baud given twice"};
    if (request.baud && p.isSet(kBaud) && request.command != Command::ConfigSet)
        throw UsageError{"--baud given twice"};
    if (p.isSet(kBaud)) {
        if (request.command == Command::ConfigSet) {
            const auto baud = ParseBaud(p.value(kBaud), false);
            if (!baud) throw UsageError{std::string("config set --baud: one of ") + kRateChoices};
            request.newBaud = baud;
        } else {
            const auto baud = ParseBaud(p.value(kBaud), true);
            if (!baud) throw UsageError{std::string("--baud: auto or one of ") + kRateChoices};
            request.baud = baud;
        }
    }

    switch (request.command) {
        case Command::Relay: {
            ExpectPositional(positional, 2, "relay N[,N...]|all on|off|toggle");
            request.relayBits = ParseRelayList(positional[0]);
            const QString a = positional[1];
            if (a == "on")
                request.action = RelayAction::On;
            else if (a == "off")
                request.action = RelayAction::Off;
            else if (a == "toggle")
                request.action = RelayAction::Toggle;
            else
                throw UsageError{"relay: on, off or toggle"};
            break;
        }
        case Command::Relays: {
            if (positional.size() > 1) throw UsageError{"usage: swb808ctl relays [MASK]"};
            if (!positional.isEmpty()) {
                const auto mask = ParseMask(positional[0]);
                if (!mask) throw UsageError{"relays: MASK is 0..255, decimal or 0x hex"};
                request.mask = *mask;
            }
            break;
        }
        case Command::Watch: {
            ExpectPositional(positional, 0, "watch [--count N] [--timeout S]");
            if (p.isSet(kCount)) {
                if (p.values(kCount).size() > 1) throw UsageError{"--count given twice"};
                bool ok = false;
                const int n = p.value(kCount).toInt(&ok);
                if (!ok || n < 1) throw UsageError{"--count: a number of changes, 1 or more"};
                request.count = n;
            }
            break;
        }
        case Command::ConfigSet: {
            ExpectPositional(positional, 0,
                             "config set [--baud N] [--error-report off|S] [--retry off|S] "
                             "[--keep-relays on|off] [--reset]");
            if (p.isSet(kErrorReport))
                request.errorReport = ParseDelay("error-report", p.value(kErrorReport), 2);
            if (p.isSet(kRetry)) request.retry = ParseDelay("retry", p.value(kRetry), 1);
            if (p.isSet(kKeepRelays)) {
                const QString v = p.value(kKeepRelays);
                if (v != "on" && v != "off") throw UsageError{"--keep-relays: on or off"};
                request.keepRelays = v == "on";
            }
            request.resetAfter = p.isSet(kReset);
            if (!request.newBaud && !request.errorReport && !request.retry && !request.keepRelays &&
                !request.resetAfter)
                throw UsageError{"config set: nothing to change (see --help)"};
            break;
        }
        case Command::Flash:
            ExpectPositional(positional, 1, "flash FILE [--bootloader] [--no-verify] [--force]");
            request.file = positional[0].toStdString();
            request.bootloader = p.isSet(kBootloader);
            request.verify = !p.isSet(kNoVerify);
            request.force = p.isSet(kForce);
            break;
        default:
            if (!positional.isEmpty())
                throw UsageError{"unexpected argument '" + positional[0].toStdString() + "'"};
    }
    if (p.optionNames().contains("timeout") && p.isSet(kTimeout)) {
        if (p.values(kTimeout).size() > 1) throw UsageError{"--timeout given twice"};
        bool ok = false;
        const double s = p.value(kTimeout).toDouble(&ok);
        if (!ok || !(s > 0) || s > 1e7) throw UsageError{"--timeout: seconds above 0"};
        request.timeoutS = s;
    }
    if (p.optionNames().contains("wait-input") && p.isSet(kWaitInput)) {
        if (p.values(kWaitInput).size() > 1) throw UsageError{"--wait-input given twice"};
        if (request.command == Command::Relays && !request.mask)
            throw UsageError{"relays --wait-input: give the MASK to set"};
        request.waitInput = ParseInputWait(p.value(kWaitInput));
    } else if (request.timeoutS && request.command != Command::Watch) {
        throw UsageError{"--timeout goes with --wait-input"};
    }
    // Names are checked now; whether a device is there is the command's business.
    for (const auto& port : request.ports) {
        try {
            ParsePortTarget(port);
        } catch (const CliFailure& f) {
            if (f.Status() == ExitStatus::Usage) throw UsageError{f.what()};
        }
    }
    const bool severalBoards =
        request.command == Command::Scan || request.command == Command::Flash;
    if (!severalBoards && request.ports.size() > 1)
        throw UsageError{word.toStdString() + " takes one --port"};
    // One port twice would be a port in use by ourselves.
    std::vector<PortTarget> seen;
    for (const auto& port : request.ports) {
        PortTarget target;
        try {
            target = ParsePortTarget(port);
        } catch (const CliFailure&) {
            target.device = port;
        }
        if (std::find(seen.begin(), seen.end(), target) != seen.end())
            throw UsageError{"--port " + port + " given twice"};
        seen.push_back(target);
    }
    return request;
}

}  // namespace

std::optional<int> ParseMask(const QString& text) {
    bool ok = false;
    const bool hex = text.startsWith("0x") || text.startsWith("0X");
    const int v = hex ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok, 10);
    if (!ok || v < 0 || v > 255 || (hex && text.size() == 2)) return std::nullopt;
    return v;
}

ParseResult ParseArguments(const QStringList& args) {
    // Global options come before the command word; find it.
    qsizetype commandAt = -1;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--port" || a == "--baud") {
            ++i;
        } else if (!a.startsWith('-')) {
            commandAt = i;
            break;
        }
    }
    const QStringList globals = commandAt < 0 ? args : args.mid(0, commandAt);

    QCommandLineParser p;
    p.addOptions({kPort, kBaud, kJson, kQuiet, kVerbose, kDirect, kHelp, kVersion});
    ParseResult result;
    if (!p.parse(globals)) {
        result.error = p.errorText().toStdString();
        return result;
    }
    if (p.isSet(kHelp)) {
        result.output = UsageText();
        return result;
    }
    if (p.isSet(kVersion)) {
        result.output = std::string("swb808ctl ") + SWB808_VERSION + "\n";
        return result;
    }
    if (commandAt < 0) {
        result.error = "no command given (see --help)";
        return result;
    }
    Request request;
    for (const QString& port : p.values(kPort)) request.ports.push_back(port.toStdString());
    request.json = p.isSet(kJson);
    request.quiet = p.isSet(kQuiet);
    request.verbose = p.isSet(kVerbose);
    request.direct = p.isSet(kDirect);
    try {
        if (p.values(kBaud).size() > 1) throw UsageError{"--baud given twice"};
        if (p.isSet(kBaud)) {
            const auto baud = ParseBaud(p.value(kBaud), true);
            if (!baud) throw UsageError{std::string("--baud: auto or one of ") + kRateChoices};
            request.baud = baud;
        }
        result.request = ParseCommand(args[commandAt], args.mid(commandAt + 1), request);
    } catch (const UsageError& e) {
        result.error = e.text;
    } catch (const HelpWanted& h) {
        result.output = h.text;
    }
    return result;
}

std::string UsageText() {
    return R"(usage: swb808ctl [GLOBAL OPTIONS] COMMAND [ARGS]
Controls an SWB808 relay/input board on a serial port from the shell.

global options:
  --port P        COM1..COM16 or a device path (/dev/ttyUSB0, /dev/serial/by-id/...);
                  repeatable for scan and flash. Default: the remembered board, else a
                  search of COM1-COM16
  --baud B        300 600 1200 2400 4800 9600 14400 19200 28800 38400 57600 76800 115200
                  230400, or auto (all 14). Default: the remembered rate, else auto
  --json          machine-readable output (one JSON document; one object per line for watch)
  --quiet, -q     print no results, progress or warnings; failures still go to stderr
  --verbose, -v   tell on stderr which ports and rates are tried
  --direct        open the port here even when swb808d holds it (by default a command for
                  a board of the service goes through the service's socket)
  --help, -h      this text; COMMAND --help tells about one command
  --version, -V   the tool's version

commands:
  scan                      find every board on the given ports (all 16 by default)
  info                      version, identity, relays, inputs, supply, configuration
  relay N|all on|off|toggle switch relays: N is 1..8, a list (2,5) or a range (1-4);
                            --wait-input M=high|low --timeout S then waits for input M
  relays [MASK]             print the relays, or set all eight at once (0..255, 0x hex)
  inputs                    print the input state
  supply                    print the supply voltage
  watch [--count N] [--timeout S]
                            the inputs now, then one line per change until Ctrl-C, N
                            changes or S seconds
  config                    print the configuration
  config set [--baud N] [--error-report off|S] [--retry off|S] [--keep-relays on|off]
             [--reset]      change the stored configuration
  reset                     restart the board and find it again
  flash FILE [--bootloader] [--no-verify] [--force]
                            replace the firmware (6144-byte image); several --port flash
                            several boards at once. Then waits up to 10 s for each board
                            to answer and reads its version back (not with --no-verify).
                            An image without version marker needs --force

relay, relays MASK, config set, reset and flash change a board: they use the given port or
the remembered board and no other. A search that finds several boards picks none.

exit status: 0 done, 1 usage, several boards found or stdout not writable, 2 no board found
or no answer (or --timeout passed), 3 port error (missing, in use, no permission, line lost),
4 file error, 5 transfer failed, 130 interrupted.
The window (swb808) and swb808ctl never use one port at the same time: each opens its port
exclusively, and the other is told the port is in use. A port that swb808d holds is used
through swb808d, with the same output and exit status (not with --direct).
)";
}

namespace {

const std::map<std::string, std::string> kCommandHelp = {
    {"scan", R"(usage: swb808ctl [--port P]... [--baud B] scan
Searches the given ports (all of COM1-COM16 by default) at once, each at the given rate or
at all 14, and lists every board that answers with its port, rate, firmware and identity.
Remembers the first board found.
)"},
    {"info", R"(usage: swb808ctl [--port P] [--baud B] info
Runs the whole query (about 0.9 s at 115200 Bd) and prints firmware version, identity,
relays, inputs, supply and stored configuration.
)"},
    {"relay", R"(usage: swb808ctl [--port P] [--baud B] relay N|all on|off|toggle
                 [--wait-input M=high|low --timeout S]
Switches relays in one frame: N is 1..8, a list such as 2,5, a range such as 1-4, or all.
With --wait-input it then waits until input M is active (high) or not (low): exit 0 when
it is, 2 when S seconds pass first. Uses the given port or the remembered board only.
)"},
    {"relays", R"(usage: swb808ctl [--port P] [--baud B] relays [MASK]
                 [--wait-input M=high|low --timeout S]
Without MASK, prints the relay state (one read). With MASK (0..255, decimal or 0x hex)
sets all eight relays at once; uses the given port or the remembered board only.
)"},
    {"inputs", R"(usage: swb808ctl [--port P] [--baud B] inputs
Prints the input state (one read).
)"},
    {"supply", R"(usage: swb808ctl [--port P] [--baud B] supply
Prints the supply voltage (one read) and whether it is in the range 4.750..5.250 V.
)"},
    {"watch", R"(usage: swb808ctl [--port P] [--baud B] watch [--count N] [--timeout S]
Prints the inputs as they are now, then one line per change the board reports, until
Ctrl-C, N changes or S seconds. Every line names port and rate. Exit 2 when --timeout ends
it before --count changes arrived.
)"},
    {"config", R"(usage: swb808ctl [--port P] [--baud B] config
Prints the stored configuration. "config set --help" tells how to change it.
)"},
    {"config set", R"(usage: swb808ctl [--port P] [--baud B] config set [--baud N]
                 [--error-report off|S] [--retry off|S] [--keep-relays on|off] [--reset]
Changes the stored configuration; what is not given stays. --baud here is the board's new
rate (the line's rate goes before "config"); --reset restarts the board and finds it at its
new rate. Uses the given port or the remembered board only.
)"},
    {"reset", R"(usage: swb808ctl [--port P] [--baud B] reset
Restarts the board and finds it again on its port. Uses the given port or the remembered
board only.
)"},
    {"flash", R"(usage: swb808ctl [--port P]... [--baud B] flash FILE [--bootloader]
Replaces the firmware with a 6144-byte image, through the firmware's own update or, with
--bootloader, through the board's loader. Several --port flash several boards at once.
Progress goes to stderr. Uses the given ports or the remembered board only.
)"},
};

}  // namespace

std::string CommandHelp(const std::string& word) {
    const auto it = kCommandHelp.find(word);
    return it == kCommandHelp.end() ? std::string() : it->second;
}

}  // namespace swb808::cli
