// Input changes the board reports on its own (frame C1 B2 E1 ...), raised by the data trigger.

#include <algorithm>
#include <vector>

#include "connection/board_session.h"
#include "connection/scoped_count.h"
#include "protocol/board_facts.h"
#include "protocol/frame_decode.h"
#include "protocol/paced_wait.h"

namespace swb808 {

namespace {

using board::kFrameStart;
constexpr size_t kInputFrameLength = board::kInputChangeFrameLength;
// Bytes taken by one run beyond those waiting when it began: under a flood of noise the run
// ends instead of reading for as long as the flood lasts.
constexpr size_t kExtraBytesPerRun = 256;

// Takes what the port holds, up to `most` bytes, onto the end of `pending`; returns the count.
size_t TakeWaiting(TSerialPort& port, std::vector<uint8_t>& pending, size_t most) {
    size_t taken = 0;
    for (uint16_t n; taken < most && (n = std::min<size_t>(port.InputCount(), most - taken)) > 0;) {
        n = std::min<uint16_t>(n, TSWB808Protocol::kBufferSize);
        const size_t at = pending.size();
        pending.resize(at + n);
        port.ReadBlock(pending.data() + at, n);
        taken += n;
    }
    return taken;
}

void DropInput(TSerialPort& port, size_t most) {
    uint8_t scrap[256];
    for (size_t n; most > 0 && (n = std::min({size_t(port.InputCount()), sizeof scrap, most})) > 0;
         most -= n)
        port.ReadBlock(scrap, uint16_t(n));
}

}  // namespace

// Reads the 7-byte frames that are waiting, as many as there are. Whatever lies before a start
// byte is skipped (line noise, a frame given up earlier), so noise does not put the frames
// behind it out of step; a start byte that does not begin a valid frame is skipped as well.
// Each frame is decoded into FrameBuffer and Payload as the receive of seven bytes does.
// While a single read waits for its reply, the bytes behind a change frame are that reply:
// the read takes the change frames ahead of it, and this run comes once the reply is in.
void BoardSession::SWBComPortTriggerData(TSerialPort& CP, uint16_t /*TriggerHandle*/) {
    if (replyAwaited_ > 0) {
        inputChangeDeferred_ = true;
        return;
    }
    const ScopedCount running(inputChangeDepth_);
    std::vector<uint8_t> pending;
    size_t budget = size_t(CP.InputCount()) + kExtraBytesPerRun;
    // Once the budget is spent, the frame at hand is still completed, so the run never ends
    // in the middle of a valid frame and the next run starts on a frame's first byte.
    size_t grace = kInputFrameLength - 1;
    const auto take = [&](size_t frameRest) {
        const size_t got = TakeWaiting(CP, pending, budget + std::min(frameRest, grace));
        const size_t over = got > budget ? got - budget : 0;
        budget -= got - over;
        grace -= over;
    };
    for (;;) {
        take(0);
        pending.erase(pending.begin(), std::find(pending.begin(), pending.end(), kFrameStart));
        if (pending.empty()) break;
        if (pending.size() < kInputFrameLength) take(kInputFrameLength - pending.size());
        // The frame is still coming: wait for its rest as the receive does, in turns.
        for (int turn = 0; pending.size() < kInputFrameLength && budget + grace > 0 &&
                           turn < TSWB808Protocol::kReceiveTurns && CP.PortPhase() == Opened;
             ++turn) {
            PacedWait(TSWB808Protocol::kReceiveTurnMs);
            take(kInputFrameLength - pending.size());
        }
        // The rest of that frame is not coming: only the piece is dropped; what came
        // behind it stays for the trigger.
        if (pending.size() < kInputFrameLength) break;
        protocol_.FrameBuffer.fill(0);
        protocol_.Payload.fill(0);
        std::copy_n(pending.begin(), kInputFrameLength, protocol_.FrameBuffer.begin());
        const uint32_t r = DecodeFrame(protocol_.FrameBuffer, protocol_.Payload);
        pending.erase(pending.begin(), pending.begin() + (r != 0 ? kInputFrameLength : 1));
        if (r != 0) grace = kInputFrameLength - 1;
        if (ReplyCode(r) == board::kInputChangeReplyCode) {
            protocol_.OptoState = protocol_.Payload[0];
            TellInputs(protocol_.OptoState);
        }
        if (budget == 0 && pending.empty()) break;
    }
    staleWaiting_ = 0;
}

// While connected the board sends nothing but input-change frames, which their handler reads
// at once. Bytes that still wait, unchanged, at the next check are noise: left there, they
// would fill the receive ring, and no later frame could get in. Only those are dropped; what
// came in behind them stays for the trigger.
void BoardSession::DropStaleInput() {
    const uint16_t waiting = port_.InputCount();
    if (waiting > 0 && waiting == staleWaiting_) {
        DropInput(port_, waiting);
        staleWaiting_ = port_.InputCount();  // a full ring is full again at once
    } else {
        staleWaiting_ = waiting;
    }
}

}  // namespace swb808
