#pragma once

// Finding the one board a command talks to: the given port, else the remembered board, else
// a search of COM1..COM16 (each port on a thread of its own, the 14 rates from 300 up, a
// whole query per pair). A command that changes a board never goes past the remembered port,
// and a search that finds several boards picks none of them.

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
enum class Presence { Query, Relays, Inputs, Config, Supply };

// One board a search found.
struct SearchHit {
    PortTarget port;
    int baud = 0;
    std::string firmware;
    std::string identity;
};

using Notice = std::function<void(const std::string&)>;

struct BoardChoice {
    std::vector<PortTarget> ports;  // empty: none given
    std::optional<int> baud;        // nullopt: not given; 0: auto
    // Read-only commands may look past a remembered board that does not answer.
    bool readOnly = false;
    Notice progress;  // "searching ..."; may be empty
    Notice trace;     // -v: the ports and rates tried; may be empty
    // The ports swb808d holds are never probed by a search; the boards online there count as
    // found (its port, rate and texts as the service reports them).
    std::vector<PortTarget> servicePorts;
    std::vector<SearchHit> serviceBoards;
};

struct FoundBoard {
    std::unique_ptr<BoardLink> link;  // null when the board found is the service's
    bool queried = false;  // the whole query ran: the session is connected, all records fresh
    std::optional<PortTarget> servicePort;  // the port of the service's board a search found
};

// What one port of a search gave: a board, a port failure, or nothing.
struct PortProbe {
    PortTarget port;
    std::optional<SearchHit> hit;
    std::string error;
    bool interrupted = false;
};

// Every port at once, each on a thread of its own, with the window's query per rate. The
// links are closed again.
std::vector<PortProbe> ProbePorts(const std::vector<PortTarget>& ports,
                                  const std::vector<int>& rates, const Notice& trace);

// Finds the board and leaves its link open; `warn` gets the lines of unusable ports. Throws
// CliFailure: NoBoard when nothing answered (naming the port when one was meant), PortError when
// nothing answered and a candidate port could not be used, Usage when a search found several
// boards.
FoundBoard FindBoard(const BoardChoice& choice, const std::optional<RememberedBoard>& remembered,
                     Presence presence, const Notice& warn);

// "COM2 (/dev/ttyS1) at 115200 Bd, COM5 (/dev/ttyUSB0) at 9600 Bd".
std::string HitList(const std::vector<SearchHit>& hits);

}  // namespace swb808::cli
