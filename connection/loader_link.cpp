// The board's loader on the session's port: its entry, the bootloader search and the blocks.

#include "connection/loader_link.h"

#include "connection/board_session.h"
#include "protocol/paced_wait.h"

namespace swb808 {

namespace {

using namespace board;

constexpr int kPollMs = 10;
constexpr int kDrainTurnMs = 100;

}  // namespace

// The running firmware is told to take an update; its answer is swept up unread.
Result<void> LoaderLink::Enter() {
    if (!session_.IsConnected()) return Fail(BoardErrc::NotConnected, "no board is connected");
    TSWB808Protocol& protocol = session_.protocol_;
    protocol.Payload[0] = 0x00;
    protocol.SendCommand(kEnterUpdate, 1);
    PacedWait(UpdateEntryWaitMs(session_.ConnectedBaud()));
    protocol.RcvCommand(0);
    return {};
}

// When a bootloader answers the session holds it, the port open on it at the loader's rate.
Result<void> LoaderLink::Find(const std::vector<PortRef>& ports) {
    TSerialPort& port = session_.port_;
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
    if (!found) {
        if (session_.StopRequested()) return Fail(BoardErrc::Stopped, "the search was stopped");
        return Fail(BoardErrc::NoAnswer, "no bootloader answered");
    }
    session_.SetLoaderLinked(true);
    return {};
}

bool LoaderLink::Linked() const {
    return session_.IsConnected();
}

PortRef LoaderLink::Port() const {
    return session_.OpenedPortRef();
}

uint16_t LoaderLink::BlockSum(const Block& block) {
    unsigned sum = 0;
    for (const uint8_t b : block) sum += b;
    return uint16_t(sum);
}

// The first fault ends the transfer; nothing is retried.
Result<uint16_t> LoaderLink::SendBlock(const Block& block) {
    TSerialPort& port = session_.port_;
    const uint16_t sum = BlockSum(block);
    for (const uint8_t b : block)
        if (port.OutputFree() > 0) port.WriteByte(b);
    if (port.OutputFree() > 0) port.WriteByte(uint8_t(sum % 256));
    if (port.OutputFree() > 0) port.WriteByte(uint8_t((sum / 256) % 256));

    DrainOutput(port, kDrainTurnMs);
    bool answered = false;
    // A vanished device cannot answer: no use sitting out the answer wait.
    for (int32_t poll = 0; poll < kBlockAnswerPolls && !answered && !port.LineLost(); ++poll) {
        PacedWait(kPollMs);
        answered = port.InputCount() >= 2;
    }
    if (!answered) {
        const bool lost = port.LineLost();
        if (lost) session_.TellLineLost(PortRef{port.ComNumber(), port.DevicePath()}.Name());
        PacedWait(kPollMs);
        if (lost) return Fail(BoardErrc::LineLost, port.LineLostText());
        return Fail(BoardErrc::NoAnswer, "the loader did not answer");
    }
    const uint8_t first = port.ReadByte();
    const uint8_t second = port.ReadByte();
    return uint16_t(first + 256 * second);
}

}  // namespace swb808
