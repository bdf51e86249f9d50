// Reads at the board's slowest rate, where a reply waits longer than the half-second line
// check that clears input nobody reads.

#include "connection/board.h"
#include "tests/connection/session_fixture.h"

namespace swb808::testing {
namespace {

class SlowRateTest : public SessionTest {
  protected:
    Board board{*session};
};

TEST_F(SlowRateTest, AReplyThatWaitsOutTwoLineChecksIsStillRead) {
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(300));
    const auto id = board.Open(OpenRequest{{PortRef::Com(kBoardCom)}, {300}, {}});
    ASSERT_TRUE(id) << id.error().message;
    sim.SetRelays(0x5A);
    for (int i = 0; i < 3; ++i) {
        const auto relays = board.ReadRelays();
        ASSERT_TRUE(relays) << "read " << i << ": " << relays.error().message;
        EXPECT_EQ(*relays, 0x5A);
    }
    sim.SetVcc(812);
    const auto supply = board.ReadSupply();
    ASSERT_TRUE(supply) << supply.error().message;
    EXPECT_EQ(supply->raw, 812);
}

}  // namespace
}  // namespace swb808::testing
