#pragma once

// The board of the last successful command: port, device and rate, and the rate each port
// last answered at, kept in the user's XDG state directory ($XDG_STATE_HOME/swb808/board.json,
// else ~/.local/state/swb808/board.json).

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/port_target.h"

namespace swb808::cli {

struct RememberedBoard {
    PortTarget port;
    int baud = 0;  // 0: the rate is not known (after a bootloader flash, say)
    // Device and rate of the ports that answered before, most recent first. Filled by the
    // load; the save keeps the file's own list and puts `port` at its head.
    std::vector<std::pair<std::string, int>> rates{};

    // The rate `port` last answered at; 0 when none is known.
    int RateAt(const PortTarget& target) const;
};

std::string RememberedBoardPath();

// The remembered board, if the file is there, readable and names a port that still maps to
// the remembered device. A damaged file counts as no memory. Only a regular file of the user
// running the tool is read, never through a link, and a FIFO there cannot block: anything
// else is refused with one line to `warn` (the first overload: stderr), once per process.
std::optional<RememberedBoard> LoadRememberedBoard();
std::optional<RememberedBoard> LoadRememberedBoard(
    const std::function<void(const std::string&)>& warn);

// Replaces the file atomically, in a directory owned by the user running the tool and never
// through a link. False (and nothing changed) when it cannot be written, `why` then says why;
// the command itself has still succeeded.
bool SaveRememberedBoard(const RememberedBoard& board);
bool SaveRememberedBoard(const RememberedBoard& board, std::string& why);

}  // namespace swb808::cli
