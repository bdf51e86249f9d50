#include "protocol/swb808_protocol.h"

#include <algorithm>

#include "protocol/board_facts.h"
#include "protocol/frame_decode.h"
#include "protocol/paced_wait.h"
#include "serial/serial_port.h"

namespace swb808 {

using namespace board;

TSWB808Protocol::TSWB808Protocol(TSerialPort& port) : port_(port) {}

bool TSWB808Protocol::SendCommand(uint8_t command, int32_t len) {
    if (len < 1 || len > kMaxPayload) return false;
    FrameBuffer[0] = kFrameStart;
    FrameBuffer[1] = command;
    FrameBuffer[2] = static_cast<uint8_t>(0xE0 | (len & 0x0F));
    unsigned sum = 0;
    for (int i = 0; i < len; ++i) {
        const uint8_t b = Payload[i];
        const uint8_t lo = static_cast<uint8_t>(0x50 | (b & 0x0F));
        const uint8_t hi = static_cast<uint8_t>(0x50 | (b >> 4));
        FrameBuffer[3 + 2 * i] = lo;
        FrameBuffer[4 + 2 * i] = hi;
        sum += lo + hi;
    }
    FrameBuffer[3 + 2 * len] = static_cast<uint8_t>(0xA0 | (sum & 0x0F));
    FrameBuffer[4 + 2 * len] = kFrameEnd;
    const uint16_t n = static_cast<uint16_t>(2 * len + 5);

    if (port_.OutputFree() < n) return false;
    port_.WriteBlock(FrameBuffer.data(), n);
    DrainOutput(port_, kReceiveTurnMs);
    return true;
}

void DrainOutput(TSerialPort& port, int turnMs) {
    while (port.OutputFree() < port.OutSize() && !port.LineLost()) PacedWait(turnMs);
}

namespace {
// Input-change frames read past before a reply counts as missing.
constexpr int kMaxInputFramesBeforeReply = 4;
}  // namespace

bool TSWB808Protocol::ReadRecord(uint8_t command, int32_t replyLength, int payloadLength,
                                 int32_t baud, const std::function<void(uint8_t)>& onInputs) {
    Payload[0] = 0x00;
    if (!SendCommand(command, 1)) return false;
    PacedWait(board::ReplyWaitMs(baud));
    for (int frames = 0; frames <= kMaxInputFramesBeforeReply; ++frames) {
        const uint32_t r = RcvCommand(replyLength);
        if (port_.LineLost()) return false;
        if (ReplyCode(r) == (command & 0x0F) && ReplyLength(r) == payloadLength) return true;
        // The board may report an input change just before it answers; both are 7 bytes
        // for the one-byte reads.
        if (ReplyCode(r) != kInputChangeReplyCode || ReplyLength(r) != 1) return false;
        OptoState = Payload[0];
        if (onInputs) onInputs(OptoState);
        if (command == kReadInputs) return true;  // the newest inputs all the same
    }
    return false;
}

uint32_t TSWB808Protocol::RcvCommand(int32_t expected) {
    FrameBuffer.fill(0);
    Payload.fill(0);

    if (expected > 0) {
        int turns = 0;
        do {
            PacedWait(kReceiveTurnMs);
            ++turns;
        } while (port_.InputCount() < expected && turns < kReceiveTurns);
        if (port_.InputCount() < expected) return 0;
        // A frame is at most 37 bytes; a longer expectation still takes exactly `expected`
        // bytes, keeping what fits.
        const uint16_t keep = static_cast<uint16_t>(std::min<int32_t>(expected, kBufferSize));
        port_.ReadBlock(FrameBuffer.data(), keep);
        for (int32_t rest = expected - keep; rest > 0;) {
            uint8_t scrap[kBufferSize];
            const uint16_t chunk = static_cast<uint16_t>(std::min<int32_t>(rest, kBufferSize));
            port_.ReadBlock(scrap, chunk);
            rest -= chunk;
        }
    } else {
        int turns = 0;
        do {
            PacedWait(kReceiveTurnMs);
            ++turns;
        } while (port_.InputCount() != port_.InSize() && turns < kReceiveTurns);
        const uint16_t c = port_.InputCount();
        if (c > 0) port_.ReadBlock(FrameBuffer.data(), std::min<uint16_t>(c, kBufferSize));
    }

    return DecodeFrame(FrameBuffer, Payload);
}

bool TSWB808Protocol::readconfig(int32_t port, int32_t baud) {
    return readconfig("COM" + std::to_string(port), baud);
}

bool TSWB808Protocol::readconfig(const std::string& portName, int32_t baud) {
    const int t = board::ReplyWaitMs(baud);

    Payload[0] = 0x00;
    SendCommand(kGreeting, 1);
    Payload[0] = 0x07;
    SendCommand(kGreetingSecond, 1);
    PacedWait(t);
    RcvCommand(0);  // sweeps up both replies and anything left from earlier

    FirmwareVersion.clear();
    // Sent with whatever the drain left in Payload[0]: the board has always seen it so.
    SendCommand(kReadVersion, 1);
    PacedWait(t);
    const uint32_t r = RcvCommand(kReplyVersion);
    if (ReplyCode(r) != kVersionReplyCode || ReplyLength(r) != kVersionLength) return false;

    if (status_) status_("querying " + portName + " at " + std::to_string(baud) + " Baud...");
    FirmwareVersion.append(reinterpret_cast<const char*>(Payload.data()), kVersionLength);

    Payload[0] = 0x00;
    SendCommand(kReadRelays, 1);
    PacedWait(t);
    RcvCommand(kReplyByte);
    RelayState = Payload[0];

    Payload[0] = 0x00;
    SendCommand(kReadInputs, 1);
    PacedWait(t);
    RcvCommand(kReplyByte);
    OptoState = Payload[0];

    DeviceId.clear();
    // Carries the input byte just read, as the board has always received it.
    SendCommand(kReadIdentity, 1);
    for (int k = 0; k < kIdentityReplies; ++k) {
        PacedWait(board::IdentityWaitMs(baud));
        const uint32_t id = RcvCommand(kReplyIdentity);
        DeviceId.append(reinterpret_cast<const char*>(Payload.data()),
                        static_cast<size_t>(ReplyLength(id)));
    }

    Payload[0] = 0x00;
    SendCommand(kReadConfig, 1);
    PacedWait(t);
    RcvCommand(kReplyConfig);
    std::copy_n(Payload.begin(), DeviceConfig.size(), DeviceConfig.begin());

    Payload[0] = 0x00;
    SendCommand(kReadVcc, 1);
    PacedWait(t);
    RcvCommand(kReplyVcc);
    VccRaw = Payload[0] + 256 * Payload[1];
    return true;
}

}  // namespace swb808
