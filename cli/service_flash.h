#pragma once

// flash for a board that swb808d holds: the image goes to the service, which sends it as a
// job of its own, and the tool follows the job: its progress as for a transfer of the tool's,
// then (unless --no-verify) the version the board runs once the service has found it again.
// A Ctrl-C ends the tool, not the transfer: the service finishes it.

#include <cstddef>

#include "cli/arguments.h"
#include "cli/flash_outcome.h"
#include "cli/progress.h"
#include "cli/service_board.h"
#include "firmware/firmware_image.h"

namespace swb808::cli {

void FlashThroughService(BoardOutcome& outcome, const HeldPort& held, const Request& request,
                         const TFirmwareImage& image, const TImageLoadResult& loaded,
                         TransferProgress& progress, size_t index);

}  // namespace swb808::cli
