// Line noise while connected: random bytes at 230400 Bd must not make the window unresponsive,
// and the input-change frames that follow must be shown.

#include "sim/frame_codec.h"
#include "tests/faults/fault_fixture.h"

namespace swb808::testing {
namespace {

class Flood : public FaultTest {};

// Unpaced, the bytes come faster than the wire could bring them.
TEST_F(Flood, GarbageAt230400KeepsTheWindowResponsiveAndLaterChangesAreShown) {
    ExpectFloodSurvived(Connect(230400), 40 * 1024);  // five times the receive ring
}

// Noise right in front of a frame, not a multiple of its seven bytes long, with stray start
// bytes: the frame behind it is still read.
TEST_F(Flood, NoiseJustBeforeAFrameDoesNotHideIt) {
    sim::PseudoTerminal& line = AddBareLine(1);
    ASSERT_TRUE(form().OpenSWBPort(1, 115200));
    form().SWBComPort.AddTriggerString(std::string_view("\xC1\xB2\xE1", 3), false);
    form().setoptoleds(0);
    std::vector<uint8_t> bytes = {0x13, 0xC1, 0x77, 0xDF, 0xC1, 0xB2};
    const std::vector<uint8_t> frame = sim::EncodeFrame(0xB2, {0x24});
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    line.Write(bytes);
    EXPECT_TRUE(WaitFor([&] { return OptoLedsShow(0x24); }));
    EXPECT_TRUE(WaitFor([&] { return form().SWBComPort.InputCount() == 0; }));
}

}  // namespace
}  // namespace swb808::testing
