#pragma once

// Which way a command reaches its board. Unless --direct is given, the service's socket is
// looked for first: when swb808d answers and lists a board on the target port (the given
// one, else the remembered one), the command goes through the service; a search counts the
// service's boards as found on their ports. Otherwise, and without a service, the board is
// found on its port as always (FindBoard).

#include <memory>

#include "cli/arguments.h"
#include "cli/board_access.h"
#include "cli/board_finder.h"
#include "cli/output.h"

namespace swb808::cli {

// `presence` is the read that proves the board answers; `readOnly` lets a search look past a
// remembered board that does not. Throws CliFailure as FindBoard does.
std::unique_ptr<BoardAccess> ReachBoard(const Request& request, Output& out, Presence presence,
                                        bool readOnly);

// The boards the service holds on `ports`, each as a scan finds one, and the ports left to
// search; no service (or --direct) leaves them all.
struct HeldHits {
    std::vector<SearchHit> hits;
    std::vector<PortTarget> rest;
};
HeldHits BoardsOfService(const Request& request, const std::vector<PortTarget>& ports);

}  // namespace swb808::cli
