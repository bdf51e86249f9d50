#pragma once

// The board of the last successful command: port, device and rate, kept in the user's XDG
// state directory ($XDG_STATE_HOME/swb808/board.json, else ~/.local/state/swb808/board.json).

#include <optional>
#include <string>

#include "cli/port_target.h"

namespace swb808::cli {

struct RememberedBoard {
    PortTarget port;
    int baud = 0;  // 0: the rate is not known (after a bootloader flash, say)
};

std::string RememberedBoardPath();

// The remembered board, if the file is there, readable and names a port that still maps to
// the remembered device. A damaged file counts as no memory.
std::optional<RememberedBoard> LoadRememberedBoard();

// Replaces the file atomically. False (and nothing changed) when it cannot be written; the
// command itself has still succeeded.
bool SaveRememberedBoard(const RememberedBoard& board);

}  // namespace swb808::cli
