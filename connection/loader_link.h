#pragma once

// The board's loader, held by the session while it flashes: entered through the running
// firmware (0xBB on the connected port) or found by probing ports for a bootloader at
// 19200 Bd. Blocks go over as typed calls; nothing else writes to the port meanwhile. Bytes,
// counts and waits are what the loader expects; they must not be tuned.
//
// Owner thread of the session only. The link refers to the session and must not outlive it.

#include <array>
#include <cstdint>
#include <vector>

#include "connection/port_ref.h"
#include "connection/result.h"
#include "protocol/board_facts.h"

namespace swb808 {

class BoardSession;

class LoaderLink {
  public:
    using Block = std::array<uint8_t, board::kBlockSize>;

    explicit LoaderLink(BoardSession& session) : session_(session) {}

    // The running firmware is told to take an update (0xBB, the entry wait at the connected
    // rate, its answer swept up unread). Needs a connected board.
    Result<void> Enter();
    // Probes `ports` in order, 129 probes a port, for the bootloader's answer 00 1E; the
    // status text gets a dot per port. Stopped by the session's stop request.
    Result<void> Find(const std::vector<PortRef>& ports);
    bool Linked() const;
    PortRef Port() const;  // where the loader is; unset before Enter/Find

    // One block, then its 16-bit sum (low byte first); waits until it has left and for the
    // loader's two-byte answer (10 ms polls, at most 1000). Returns the answered sum, or
    // NoAnswer / LineLost (the lost line is told as the session tells it).
    Result<uint16_t> SendBlock(const Block& block);

    static uint16_t BlockSum(const Block& block);

  private:
    BoardSession& session_;
};

}  // namespace swb808
