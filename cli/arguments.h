#pragma once

// The command line: `swb808ctl [GLOBAL OPTIONS] COMMAND [ARGS]`.

#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace swb808::cli {

enum class Command {
    Scan,
    Info,
    Relay,
    Relays,
    Inputs,
    Supply,
    Watch,
    Config,
    ConfigSet,
    Reset,
    Flash
};
enum class RelayAction { On, Off, Toggle };

// A delay of the configuration: off, or seconds.
struct DelaySetting {
    bool off = false;
    int seconds = 0;
};

// relay --wait-input M=high|low: input M (1..8) active or not.
struct InputWait {
    int input = 1;
    bool active = true;
};

struct Request {
    Command command = Command::Info;
    std::vector<std::string> ports;  // --port, as given
    std::optional<int> baud;         // --baud: nullopt not given, 0 auto
    bool json = false;
    bool quiet = false;
    bool verbose = false;  // -v: the ports and rates tried
    bool direct = false;   // --direct: the port itself, even when swb808d holds it

    uint8_t relayBits = 0;  // relay: the relays named, one bit each
    RelayAction action = RelayAction::Toggle;
    std::optional<int> mask;  // relays: nullopt reads them

    std::optional<int> count;            // watch --count
    std::optional<double> timeoutS;      // watch --timeout, relay/relays --timeout
    std::optional<InputWait> waitInput;  // relay/relays --wait-input

    std::optional<int> newBaud;  // config set --baud
    std::optional<DelaySetting> errorReport;
    std::optional<DelaySetting> retry;
    std::optional<bool> keepRelays;
    bool resetAfter = false;  // config set --reset

    std::string file;         // flash
    bool bootloader = false;  // flash --bootloader
    bool verify = true;       // flash without --no-verify: the version read back
    bool force = false;       // flash --force: an image without version marker
};

struct ParseResult {
    std::optional<Request> request;
    std::string error;   // a usage error (exit 1)
    std::string output;  // --help or --version text (exit 0)
};

// `args` includes the program name first.
ParseResult ParseArguments(const QStringList& args);

std::string UsageText();
// The text of `swb808ctl COMMAND --help`; empty for an unknown word.
std::string CommandHelp(const std::string& word);

// 0..255, decimal or 0x hex.
std::optional<int> ParseMask(const QString& text);

}  // namespace swb808::cli
