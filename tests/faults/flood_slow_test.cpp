// A long flood of noise at the wire speed of 230400 Bd, about 14 s.

#include "tests/faults/fault_fixture.h"

namespace swb808::testing {
namespace {

class FloodSlow : public FaultTest {};

TEST_F(FloodSlow, FewHundredKilobytesAtWireSpeedThenChangesAreShown) {
    ExpectFloodSurvived(Connect(230400, {}, true), 320 * 1024);
}

}  // namespace
}  // namespace swb808::testing
