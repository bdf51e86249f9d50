// "Flash": the image goes to the board's loader, entered through the running firmware or
// found by probing the ports for a bootloader. Bytes, counts and waits are what the board's
// loader expects; they must not be tuned.

#include "firmware/firmware_transfer.h"

#include <algorithm>

#include "connection/loader_link.h"
#include "protocol/board_facts.h"
#include "protocol/board_text.h"

namespace swb808 {

using namespace board;

namespace {

std::string OutcomeText(FlashOutcome outcome) {
    switch (outcome) {
        case FlashOutcome::Complete:
            return {};
        case FlashOutcome::NoLoader:
            return std::string(kNoLoaderText);
        case FlashOutcome::SearchStopped:
            return "stopped";
        case FlashOutcome::NoAnswer:
            return std::string(kNoAnswerText);
        case FlashOutcome::WrongSum:
            return std::string(kWrongSumText);
        case FlashOutcome::Aborted:
            return "aborted";
    }
    return {};
}

}  // namespace

// The session leaves the flashing state however the run ends; an exception (a port closed
// under the transfer, say) leaves the controls as they are, for the front end's error display.
class FirmwareTransfer::Running {
  public:
    Running(BoardSession& session, std::atomic<bool>& sendingBlocks)
        : session_(session), sendingBlocks_(sendingBlocks) {
        session_.BeginFlashing();
    }
    ~Running() {
        sendingBlocks_.store(false);
        session_.EndFlashing();
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

  private:
    BoardSession& session_;
    std::atomic<bool>& sendingBlocks_;
};

FlashResult FirmwareTransfer::Run(const TFirmwareImage& image,
                                  const std::vector<PortRef>& searchPorts) {
    const Running running(session_, sendingBlocks_);
    SessionView& view = session_.View();
    view.FlashBegins();
    session_.SetProgress(0);
    const std::string oldVersion =
        session_.IsConnected() ? AnsiToUtf8(session_.Records().firmwareVersion) : std::string();

    LoaderLink link(session_);
    if (session_.IsConnected()) {
        // From here on the board is in its loader: a close must wait for the transfer.
        sendingBlocks_.store(true);
        (void)link.Enter();
    } else if (link.Find(searchPorts)) {
        sendingBlocks_.store(true);
    }

    FlashResult result;
    if (link.Linked()) {
        const PortRef linked = link.Port();
        result = TransferImage(link, image);
        result.port = linked;
        session_.SetStatus("rebooting...");
        view.FlashBlocksEnded();
        session_.disconnect();
    } else {
        // A search the operator stopped (the window closing, Ctrl-C) is no failure to show.
        const bool stopped = session_.StopRequested();
        result.outcome = stopped ? FlashOutcome::SearchStopped : FlashOutcome::NoLoader;
        if (!stopped) view.ShowError(std::string(kNoLoaderText));
        session_.SetStatus("rebooting...");
        session_.disconnect();
    }
    sendingBlocks_.store(false);
    view.FlashEnds();
    BoardEvent done = session_.NewEvent(BoardEventKind::FlashResult);
    done.blocksDone = result.blocksDone;
    done.blockCount = int(kBlockCount);
    done.oldVersion = oldVersion;
    done.newVersion = FindImageVersion(image);
    done.message = OutcomeText(result.outcome);
    session_.Events().Publish(std::move(done));
    return result;
}

// 96 blocks of 64 bytes, each followed by its sum and answered by the same sum. The first
// fault ends the transfer; nothing is retried.
FlashResult FirmwareTransfer::TransferImage(LoaderLink& link, const TFirmwareImage& image) {
    SessionView& view = session_.View();
    FlashResult result;
    result.outcome = FlashOutcome::Complete;
    constexpr auto kImageBytes = int32_t(kImageSize);
    for (int32_t offset = 0; offset < kImageBytes; offset += int32_t(kBlockSize)) {
        if (abort_.load()) {
            result.outcome = FlashOutcome::Aborted;
            break;
        }
        session_.SetProgress(SessionView::kProgressMax * offset / kImageBytes);
        session_.SetStatus("flashing...  Bytes " + std::to_string(offset));
        LoaderLink::Block block;
        std::copy_n(image.begin() + offset, kBlockSize, block.begin());
        const Result<uint16_t> answer = link.SendBlock(block);
        if (!answer) {
            view.ShowError(std::string(kNoAnswerText));
            result.outcome = FlashOutcome::NoAnswer;
            break;
        }
        if (*answer != LoaderLink::BlockSum(block)) {
            view.ShowError(std::string(kWrongSumText));
            result.outcome = FlashOutcome::WrongSum;
            break;
        }
        ++result.blocksDone;
        session_.TellBlocksDone(result.blocksDone, int(kBlockCount));
    }
    return result;
}

}  // namespace swb808
