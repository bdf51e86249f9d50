#pragma once

// "Flash" on a session, without Qt: the image goes to the board's loader, entered through the
// running firmware (command 0xBB on the connected port, at its rate) or found by probing the
// ports for a bootloader at 19200 Bd. 96 blocks of 64 bytes, each with its sum, each answered
// by the same sum; the first fault ends the transfer. It always ends with disconnect().
// Bytes, counts and waits are what the board's loader expects; they must not be tuned.
//
// Threads: Run on the session's logic thread; RequestAbort and SendingBlocks from any thread.

#include <atomic>
#include <string_view>
#include <vector>

#include "connection/board_session.h"
#include "firmware/firmware_image.h"

namespace swb808 {

inline constexpr std::string_view kNoLoaderText = "Gerät/Bootloader reagiert nicht, Abbruch!";
inline constexpr std::string_view kNoAnswerText = "Keine Rückmeldung beim Programmieren, Abbruch!";
inline constexpr std::string_view kWrongSumText = "Falsche Prüfsumme beim Programmieren, Abbruch!";

enum class FlashOutcome {
    Complete,       // all 96 blocks confirmed
    NoLoader,       // the search found no bootloader (error box)
    SearchStopped,  // the session's stop request ended the search (no box)
    NoAnswer,       // a block was not answered (error box); also a line lost mid-way
    WrongSum,       // a block was answered with another sum (error box)
    Aborted,        // RequestAbort between blocks (no box)
};

struct FlashResult {
    FlashOutcome outcome = FlashOutcome::NoLoader;
    int blocksDone = 0;  // confirmed blocks
    PortRef port;        // where the blocks went; unset when no board or loader was linked
};

class FirmwareTransfer {
  public:
    explicit FirmwareTransfer(BoardSession& session) : session_(session) {}

    // The whole "Flash": the entry when the session is connected, else the search over
    // `searchPorts`; then the blocks; then disconnect. Progress: the session's status text
    // ("synchronizing..." with a dot per port, "flashing...  Bytes n", "rebooting..."), its
    // progress value and View().BlocksDone after each confirmed block.
    FlashResult Run(const TFirmwareImage& image,
                    const std::vector<PortRef>& searchPorts = AllComPorts());

    // Any thread: the transfer stops before its next block (the board keeps a partial image;
    // a later transfer must start again). A search is stopped through the session's
    // RequestStop.
    void RequestAbort() { abort_.store(true); }
    // Any thread: the blocks are going over now (a close must wait for them).
    bool SendingBlocks() const { return sendingBlocks_.load(); }

  private:
    class Running;
    FlashResult TransferImage(LoaderLink& link, const TFirmwareImage& image);

    BoardSession& session_;
    std::atomic<bool> abort_{false};
    std::atomic<bool> sendingBlocks_{false};
};

}  // namespace swb808
