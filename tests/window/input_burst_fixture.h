#pragma once

// Runs of input changes sent back to back by the paced simulator, each run ending on a value
// of its own and followed by one single change: the window must end on each run's last value
// and show the single change too.

#include <vector>

#include "tests/window/window_fixture.h"

namespace swb808::testing {

class InputBurst : public WindowTest {
  protected:
    bool OptoLedsShow(uint8_t mask) {
        for (int n = 0; n < 8; ++n)
            if (form().OptoLeds[n]->LedState() != ((mask >> n & 1) ? stOn : stOff)) return false;
        return form().Protocol.OptoState == mask;
    }

    // Sends `changes` changes (0x55/0xAA alternating, the last one `last`) and waits, handling
    // events, until the board has sent them all and the LEDs show `last`.
    bool Burst(sim::BoardSimulator& board, unsigned baud, int changes, uint8_t last) {
        for (int i = 0; i < changes - 1; ++i) board.SetInputs(i % 2 ? 0xAA : 0x55);
        board.SetInputs(last);
        const auto wire = std::chrono::milliseconds(changes * 7 * 10 * 1000 / baud);
        return WaitFor(
            [&] { return board.WaitSendIdle(std::chrono::milliseconds(0)) && OptoLedsShow(last); },
            wire + std::chrono::seconds(3));
    }

    void ExpectRunsShown(unsigned baud, const std::vector<int>& runs) {
        sim::BoardSimulator& board = Connect(baud, {}, true);
        ASSERT_TRUE(form().Connected);
        uint8_t value = 0x10;
        for (int changes : runs) {
            const uint8_t last = value++;
            const uint8_t single = value++;
            EXPECT_TRUE(Burst(board, baud, changes, last))
                << changes << " changes at " << baud << " Bd, shown "
                << int(form().Protocol.OptoState) << " instead of " << int(last);
            PacedWait(150);  // nothing stale may follow
            EXPECT_TRUE(OptoLedsShow(last)) << changes << " changes at " << baud << " Bd";
            EXPECT_TRUE(Burst(board, baud, 1, single))
                << "single change after " << changes << " changes at " << baud << " Bd";
        }
    }
};

}  // namespace swb808::testing
