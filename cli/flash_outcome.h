#pragma once

// What flashing one board came to, however it was sent: the tool's summary and JSON are made
// from it.

#include <chrono>
#include <optional>
#include <string>

#include "cli/exit_status.h"
#include "cli/port_target.h"
#include "protocol/board_facts.h"

namespace swb808::cli {

struct BoardOutcome {
    PortTarget port;
    bool bootloader = false;
    int baud = 0;
    ExitStatus status = ExitStatus::Done;
    int blocksDone = 0;
    std::string error;
    double seconds = 0;
    std::optional<std::string> oldVersion;  // raw; unknown on the bootloader path
    std::optional<std::string> newVersion;  // raw; read back after the blocks
    std::string note;                       // why the version was not read back
};

inline constexpr int kBlocks = int(board::kBlockCount);
inline constexpr const char* kNeedsBootloader = " (the board now needs flash --bootloader)";
// After the last block the board checks the image and restarts; this long it may take.
inline constexpr auto kRestartBound = std::chrono::seconds(10);

// "block 5 of 96" for the block after `done`.
inline std::string BlockText(int done) {
    return "block " + std::to_string(done + 1) + " of " + std::to_string(kBlocks);
}

}  // namespace swb808::cli
