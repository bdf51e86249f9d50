#pragma once

// The firmware transfer with the window's bytes, counts and waits: entry through the running
// firmware (0xBB) or a bootloader found by its probe, then 96 acknowledged blocks.

#include <functional>
#include <string>

#include "cli/board_link.h"
#include "firmware/firmware_image.h"

namespace swb808::cli {

inline constexpr int kImageBlocks = int(kFirmwareImageSize / 64);

// The update command on a link the firmware answers on; its answer is swept up unread.
void EnterUpdate(BoardLink& link);

// Opens the link at the bootloader's rate and probes it (129 probes); true when it answered
// 0x00 0x1E. Port failures throw CliFailure.
bool ProbeBootloader(BoardLink& link);

struct TransferResult {
    bool ok = false;
    bool aborted = false;  // a second Ctrl-C during the blocks
    int blocksDone = 0;
    std::string error;     // why it failed
};

// Sends the image; `onBlock(done)` runs after each acknowledged block and once with 0 before
// the first. `onFirstInterrupt(left)` runs when a first Ctrl-C comes during the blocks.
TransferResult TransferImage(BoardLink& link, const TFirmwareImage& image,
                             const std::function<void(int)>& onBlock,
                             const std::function<void(int)>& onFirstInterrupt);

}  // namespace swb808::cli
