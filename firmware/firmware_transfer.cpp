// "Flash": the image goes to the board's loader, entered through the running firmware or
// found by probing the ports for a bootloader. Bytes, counts and waits are what the board's
// loader expects; they must not be tuned.

#include "firmware/firmware_transfer.h"

#include "protocol/board_facts.h"
#include "protocol/paced_wait.h"

namespace swb808 {

namespace {

using namespace board;

constexpr int kPollMs = 10;
constexpr int kDrainTurnMs = 100;

std::string PortName(const TSerialPort& port) {
    return PortRef{port.ComNumber(), port.DevicePath()}.Name();
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

    if (session_.IsConnected())
        EnterUpdate();
    else
        SearchBootloader(searchPorts);

    FlashResult result;
    if (session_.IsConnected()) {
        const PortRef linked = session_.OpenedPortRef();
        result = TransferImage(image);
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
    return result;
}

// The running firmware is told to take an update; its answer is swept up unread. From here on
// the board is in its loader: a close must wait for the transfer.
void FirmwareTransfer::EnterUpdate() {
    sendingBlocks_.store(true);
    TSWB808Protocol& protocol = session_.Protocol();
    protocol.Payload[0] = 0x00;
    protocol.SendCommand(kEnterUpdate, 1);
    PacedWait(UpdateEntryWaitMs(session_.ConnectedBaud()));
    protocol.RcvCommand(0);
}

// Probes the ports for a bootloader; when one answers the session holds it, the port open on
// it at the bootloader's rate.
bool FirmwareTransfer::SearchBootloader(const std::vector<PortRef>& ports) {
    TSerialPort& port = session_.Port();
    session_.SetStatus("synchronizing...");
    session_.ForgetOpenedPort();
    bool found = false;
    for (const PortRef& candidate : ports) {
        if (session_.StopRequested()) break;
        session_.SetStatus(session_.StatusTextNow() + ".");
        if (!session_.OpenSWBPort(candidate, kLoaderBaud)) continue;
        for (int32_t probes = 1; probes <= kLoaderProbesPerPort; ++probes) {
            if (session_.StopRequested()) break;
            if (port.OutputFree() > 0) port.WriteByte(kLoaderProbe);
            for (int32_t poll = 0; poll < kLoaderPollsPerProbe; ++poll) {
                PacedWait(kPollMs);
                if (port.InputCount() >= 2) break;
            }
            // Exactly one pair a probe: a lone byte stays and leads the next pair.
            if (port.InputCount() >= 2) {
                const uint8_t first = port.ReadByte();
                const uint8_t second = port.ReadByte();
                found = first == kLoaderAnswer[0] && second == kLoaderAnswer[1];
            }
            if (found || port.LineLost()) break;
        }
        if (found) break;
    }
    if (found) {
        sendingBlocks_.store(true);
        session_.SetLoaderLinked(true);
    }
    return found;
}

// 96 blocks of 64 bytes, each followed by its sum and answered by the same sum. The first
// fault ends the transfer; nothing is retried.
FlashResult FirmwareTransfer::TransferImage(const TFirmwareImage& image) {
    TSerialPort& port = session_.Port();
    SessionView& view = session_.View();
    FlashResult result;
    result.outcome = FlashOutcome::Complete;
    constexpr auto kImageBytes = int32_t(kImageSize);
    for (int32_t offset = 0; offset < kImageBytes;) {
        if (abort_.load()) {
            result.outcome = FlashOutcome::Aborted;
            break;
        }
        session_.SetProgress(SessionView::kProgressMax * offset / kImageBytes);
        session_.SetStatus("flashing...  Bytes " + std::to_string(offset));
        int32_t blocksum = 0;
        for (int32_t i = 0; i < int32_t(kBlockSize); ++i) {
            const uint8_t b = image[static_cast<size_t>(offset + i)];
            if (port.OutputFree() > 0) port.WriteByte(b);
            blocksum += b;
        }
        if (port.OutputFree() > 0) port.WriteByte(static_cast<uint8_t>(blocksum % 256));
        if (port.OutputFree() > 0) port.WriteByte(static_cast<uint8_t>((blocksum / 256) % 256));
        offset += int32_t(kBlockSize);

        while (port.OutputFree() < port.OutSize() && !port.LineLost()) PacedWait(kDrainTurnMs);
        bool answered = false;
        // A vanished device cannot answer: no use sitting out the answer wait.
        for (int32_t poll = 0; poll < kBlockAnswerPolls && !answered && !port.LineLost();
             ++poll) {
            PacedWait(kPollMs);
            answered = port.InputCount() >= 2;
        }
        if (!answered) {
            if (port.LineLost()) session_.TellLineLost(PortName(port));
            PacedWait(kPollMs);
            view.ShowError(std::string(kNoAnswerText));
            result.outcome = FlashOutcome::NoAnswer;
            break;
        }
        const uint8_t first = port.ReadByte();
        const uint8_t second = port.ReadByte();
        if (first + 256 * second != blocksum) {
            view.ShowError(std::string(kWrongSumText));
            result.outcome = FlashOutcome::WrongSum;
            break;
        }
        ++result.blocksDone;
        view.BlocksDone(result.blocksDone, int(kBlockCount));
    }
    return result;
}

}  // namespace swb808
