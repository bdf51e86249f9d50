#pragma once

// The board's framed protocol on a serial port: the frame codec, the device records and the
// query that fills them. One instance per session, owned by it; its logic thread only. Waits go
// through PacedWait, so handlers may run a nested send or receive in the middle of one: the inner
// call then overwrites the buffers (that is how the board's protocol is driven), but every access
// stays inside them.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/board_facts.h"

namespace swb808 {

class TSerialPort;

class TSWB808Protocol {
  public:
    static constexpr int kBufferSize = 256;
    using TBuffer = std::array<uint8_t, kBufferSize>;
    // The port's output buffer size: a send waits until that much is free again.
    static constexpr uint16_t kOutputBufferSize = 4096;
    // A receive polls in turns of this many milliseconds, at most kReceiveTurns of them.
    static constexpr int kReceiveTurnMs = 10;
    static constexpr int kReceiveTurns = 31;

    // Reply lengths on the wire (2 * payload + 5).
    static constexpr int32_t kReplyVersion = 15;
    static constexpr int32_t kReplyByte = 7;
    static constexpr int32_t kReplyIdentity = 37;
    static constexpr int32_t kReplyConfig = 17;
    static constexpr int32_t kReplyVcc = 9;
    static constexpr int kIdentityReplies = 4;

    // Reply waits of the query (board_facts.h holds them).
    static constexpr int ReplyWaitMs(int32_t baud) { return board::ReplyWaitMs(baud); }
    static constexpr int IdentityWaitMs(int32_t baud) { return board::IdentityWaitMs(baud); }

    using TStatusSink = std::function<void(const std::string&)>;

    explicit TSWB808Protocol(TSerialPort& port);
    TSWB808Protocol(const TSWB808Protocol&) = delete;
    TSWB808Protocol& operator=(const TSWB808Protocol&) = delete;

    TSerialPort& Port() const { return port_; }

    // Receives the status-bar text the query sets ("querying COM5 at 19200 Baud...").
    void SetStatusSink(TStatusSink sink) { status_ = std::move(sink); }

    // Encodes Payload[0..len-1] as a frame with `command` into FrameBuffer, queues it and waits
    // until the output buffer is empty again. False, with nothing sent, when the output buffer
    // lacks room or len is outside 1..16 (the length nibble cannot carry it).
    bool SendCommand(uint8_t command, int32_t len);

    // Waits for a frame of `expected` bytes (expected <= 0: drains what arrives within the
    // fixed wait, at most 256 bytes), decodes it into Payload and returns
    // (length << 16) | reply code, or 0 when no valid frame was received.
    uint32_t RcvCommand(int32_t expected);

    // One read of a single record: `command` with payload 0x00, the reply wait at `baud`, a
    // receive of `replyLength` bytes. True when the reply has the command's code and carries
    // `payloadLength` bytes (then in Payload). Input-change frames that come first (at most
    // four) are read past, each mask given to `onInputs`; for the input read the newest such
    // mask is the answer. False at once on a lost line.
    bool ReadRecord(uint8_t command, int32_t replyLength, int payloadLength, int32_t baud,
                    const std::function<void(uint8_t)>& onInputs);

    // Queries the board on the open port at `baud`: version, relays, inputs, identity,
    // configuration and supply voltage. True when the version reply was right; `port` is
    // used only in the status text.
    bool readconfig(int32_t port, int32_t baud);
    // The same for a port named otherwise ("COM5", "/dev/ttyUSB0"): the status text names it.
    bool readconfig(const std::string& portName, int32_t baud);

    // The buffers of the codec, zero at start; always those of the last send or
    // receive, whoever made it.
    TBuffer FrameBuffer{};
    TBuffer Payload{};

    // Device records.
    uint8_t RelayState = 0;
    uint8_t OptoState = 0;
    int32_t VccRaw = 0;
    std::string FirmwareVersion;  // raw 8-bit characters
    std::string DeviceId;         // raw 8-bit characters, zero bytes kept
    std::array<uint8_t, 6> DeviceConfig{};

  private:
    TSerialPort& port_;
    TStatusSink status_;
};

// Waits in turns of `turnMs` until every queued byte has left the port, or its device vanished
// (which never drains).
void DrainOutput(TSerialPort& port, int turnMs);

// Splits a receive result.
inline constexpr int ReplyCode(uint32_t result) {
    return static_cast<int>(result & 0x0F);
}
inline constexpr int ReplyLength(uint32_t result) {
    return static_cast<int>(result >> 16);
}

}  // namespace swb808
