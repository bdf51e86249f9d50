#include "cli/firmware_transfer.h"

#include "cli/interrupt.h"
#include "cli/rates.h"
#include "protocol/paced_wait.h"

namespace swb808::cli {

namespace {

constexpr uint8_t kUpdateCommand = 0xBB;
constexpr uint8_t kProbeByte = 0x78;  // "x"
constexpr uint8_t kAnswerFirst = 0x00;
constexpr uint8_t kAnswerSecond = 0x1E;
constexpr int kProbesPerPort = 129;
constexpr int kPollsPerProbe = 11;
constexpr int kBlockSize = 64;
constexpr int kAnswerPolls = 1000;
constexpr int kPollMs = 10;
constexpr int kDrainTurnMs = 100;

}  // namespace

void EnterUpdate(BoardLink& link) {
    TSWB808Protocol& p = link.Protocol();
    p.Payload[0] = 0x00;
    p.SendCommand(kUpdateCommand, 1);
    PacedWait(link.Baud() > 0 ? 210000 / link.Baud() : 0);
    p.RcvCommand(0);
    link.ThrowIfLineLost();
}

bool ProbeBootloader(BoardLink& link) {
    link.Open(kBootloaderRate);
    TSerialPort& port = link.Port();
    for (int probes = 1; probes <= kProbesPerPort; ++probes) {
        if (port.OutputFree() > 0) port.WriteByte(kProbeByte);
        for (int poll = 0; poll < kPollsPerProbe; ++poll) {
            PacedWait(kPollMs);
            if (port.InputCount() >= 2) break;
        }
        // Exactly one pair a probe: a lone byte stays and leads the next pair.
        if (port.InputCount() >= 2) {
            const uint8_t first = port.ReadByte();
            const uint8_t second = port.ReadByte();
            if (first == kAnswerFirst && second == kAnswerSecond) return true;
        }
        link.ThrowIfLineLost();
    }
    return false;
}

TransferResult TransferImage(BoardLink& link, const TFirmwareImage& image,
                             const std::function<void(int)>& onBlock,
                             const std::function<void(int)>& onFirstInterrupt) {
    TSerialPort& port = link.Port();
    TransferResult result;
    const auto blockText = [](int block) {
        return "block " + std::to_string(block + 1) + " of " + std::to_string(kImageBlocks);
    };
    BlockPhase phase([&] { onFirstInterrupt(kImageBlocks - result.blocksDone); });
    try {
        onBlock(0);
        for (int offset = 0; offset < int(kFirmwareImageSize); offset += kBlockSize) {
            const int block = offset / kBlockSize;
            int blocksum = 0;
            for (int i = 0; i < kBlockSize; ++i) {
                const uint8_t b = image[size_t(offset + i)];
                if (port.OutputFree() > 0) port.WriteByte(b);
                blocksum += b;
            }
            if (port.OutputFree() > 0) port.WriteByte(uint8_t(blocksum % 256));
            if (port.OutputFree() > 0) port.WriteByte(uint8_t((blocksum / 256) % 256));

            while (port.OutputFree() < port.OutSize() && !port.LineLost()) PacedWait(kDrainTurnMs);
            bool answered = false;
            for (int poll = 0; poll < kAnswerPolls && !answered && !port.LineLost(); ++poll) {
                PacedWait(kPollMs);
                answered = port.InputCount() >= 2;
            }
            if (!answered) {
                if (port.LineLost()) {
                    result.error = link.Target().Name() + ": " + port.LineLostText() + " at " +
                                   blockText(block);
                    return result;
                }
                PacedWait(kPollMs);
                result.error = "no answer to " + blockText(block);
                return result;
            }
            const uint8_t first = port.ReadByte();
            const uint8_t second = port.ReadByte();
            if (first + 256 * second != blocksum) {
                result.error = "wrong checksum echoed for " + blockText(block);
                return result;
            }
            result.blocksDone = block + 1;
            onBlock(result.blocksDone);
        }
    } catch (const Interrupted&) {
        result.aborted = true;
        result.error = "aborted by Ctrl-C after " + std::to_string(result.blocksDone) + " of " +
                       std::to_string(kImageBlocks) + " blocks";
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace swb808::cli
