#pragma once

// What the board is, in one place: its command codes, its rates, the ports the program looks
// at, the loader's handshake and the image's shape. Every other file takes these values from
// here instead of writing the literal again.

#include <array>
#include <optional>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace swb808::board {

// Commands the program sends, named by what they do. Every command carries a payload: one
// byte for all but the configuration write, which carries seven.
inline constexpr uint8_t kReadInputs = 0xB1;
inline constexpr uint8_t kWriteRelays = 0xB2;
inline constexpr uint8_t kReadRelays = 0xB3;
inline constexpr uint8_t kWriteConfig = 0xB4;
inline constexpr uint8_t kReadConfig = 0xB5;
inline constexpr uint8_t kReadIdentity = 0xB6;
inline constexpr uint8_t kReadVersion = 0xB7;
inline constexpr uint8_t kGreeting = 0xB8;        // first of the query, payload 0x00
inline constexpr uint8_t kGreetingSecond = 0xB9;  // straight after it, payload 0x07
inline constexpr uint8_t kReset = 0xBA;
inline constexpr uint8_t kEnterUpdate = 0xBB;
inline constexpr uint8_t kReadVcc = 0xBC;

// Reply codes the program tests (the low nibble of the reply's command byte).
inline constexpr int kVersionReplyCode = 7;
inline constexpr int kInputChangeReplyCode = 2;
inline constexpr int kVersionLength = 5;  // payload bytes of the version reply

// Frame bytes.
inline constexpr uint8_t kFrameStart = 0xC1;  // no other byte of a frame can take this value
inline constexpr uint8_t kFrameEnd = 0xDF;
inline constexpr int kMaxPayload = 16;  // the length nibble's reach
// The frame the board sends on its own when an input changes: head C1 B2 E1, one payload
// byte (two nibble bytes), check byte, end byte.
inline constexpr std::string_view kInputChangeHead{"\xC1\xB2\xE1", 3};
inline constexpr size_t kInputChangeFrameLength = 7;

// Configuration record: six bytes read, a checksum byte added when written.
inline constexpr size_t kConfigLength = 6;
inline constexpr size_t kConfigWriteLength = 7;

// The board's rates, in the order of configuration byte 0 and of the rate search.
inline constexpr std::array<int32_t, 14> kBaudRates = {
    300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 76800, 115200, 230400};
inline constexpr int kBaudRateCount = int(kBaudRates.size());

// The index of a rate in kBaudRates, or nullopt.
constexpr std::optional<int> RateIndex(int32_t baud) {
    for (size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == baud) return int(i);
    return std::nullopt;
}

// The rate of a configuration index, or nullopt for 14 ("unknown") and above.
constexpr std::optional<int32_t> RateOfIndex(int index) {
    if (index < 0 || index >= kBaudRateCount) return std::nullopt;
    return kBaudRates[size_t(index)];
}

// The ports the program offers and searches: COM1 .. COM16.
inline constexpr int32_t kComPortCount = 16;

// Sent once before each query of the scan.
inline constexpr uint8_t kWakeByte = 0xDF;

// The bootloader: probed with one byte at its fixed rate, it answers with two.
inline constexpr uint8_t kLoaderProbe = 0x78;  // "x"
inline constexpr std::array<uint8_t, 2> kLoaderAnswer = {0x00, 0x1E};
inline constexpr int32_t kLoaderBaud = 19200;
inline constexpr int32_t kLoaderProbesPerPort = 129;
inline constexpr int32_t kLoaderPollsPerProbe = 11;

// The firmware image and its transfer: blocks of 64 bytes, each followed by its 16-bit sum
// (low byte first) and answered by the same sum.
inline constexpr size_t kImageSize = 6144;
inline constexpr size_t kBlockSize = 64;
inline constexpr size_t kBlockCount = kImageSize / kBlockSize;  // 96
inline constexpr int32_t kBlockAnswerPolls = 1000;

// Waits the board needs, in milliseconds (integer divisions: the board expects them so).
inline constexpr int ReplyWaitMs(int32_t baud) { return baud > 0 ? 300000 / baud : 0; }
inline constexpr int IdentityWaitMs(int32_t baud) { return baud > 0 ? 600000 / baud : 0; }
inline constexpr int UpdateEntryWaitMs(int32_t baud) { return baud > 0 ? 210000 / baud : 0; }
inline constexpr int kResetWaitMs = 2000;  // after "Close" and "Reset"

}  // namespace swb808::board
