#pragma once

// The command-line face of the simulator: options of swb808-sim and the commands it reads on
// standard input, kept apart from main so that tests can drive them.

#include <string>
#include <vector>

#include "sim/board_simulator.h"

namespace swb808::sim {

struct CommandLine {
    BoardOptions options;
    std::vector<std::pair<FaultKind, int>> faults;
    bool silent = false;
    bool help = false;
    std::string error;  // non-empty: the options are unusable (exit code 2)
};

// `args` without the program name. `portDir` is $SWB808_PORT_DIR (for --com), may be empty.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& portDir);
std::string HelpText();

// Decimal or 0x hex, within [min, max].
bool ParseNumber(const std::string& text, long min, long max, long* out);

struct ConsoleReply {
    bool quit = false;
    bool ok = true;
    std::string text;  // what to print ("ok", the status, or the error)
};
ConsoleReply RunConsoleCommand(BoardSimulator& board, const std::string& line);

}  // namespace swb808::sim
