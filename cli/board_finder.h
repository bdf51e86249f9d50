#pragma once

// Finding the one board a command talks to: the given port and rate, else the remembered
// board, else the window's search (COM1..COM16, each at the 14 rates from 300 up, a whole
// query per pair).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/board_link.h"
#include "cli/remembered_board.h"

namespace swb808::cli {

// The exchange that proves a board answers when its rate is known. With an unknown rate the
// whole query does, as in the window.
enum class Presence { Query, Relays, Inputs, Config };

struct BoardChoice {
    std::vector<PortTarget> ports;  // empty: none given
    std::optional<int> baud;        // nullopt: not given; 0: auto
};

struct FoundBoard {
    std::unique_ptr<BoardLink> link;
    bool queried = false;  // the whole query ran: the session is connected, all records fresh
};

// Finds the board and leaves its link open. Throws CliFailure: NoBoard when nothing answered,
// PortError when nothing answered and a candidate port could not be used (its line says
// why; the lines of earlier such ports go to `warn`).
FoundBoard FindBoard(const BoardChoice& choice, const std::optional<RememberedBoard>& remembered,
                     Presence presence, const std::function<void(const std::string&)>& warn);

}  // namespace swb808::cli
