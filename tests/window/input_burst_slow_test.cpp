#include "tests/window/input_burst_fixture.h"

namespace swb808::testing {
namespace {

// About 30 s of wire time.
TEST_F(InputBurst, ThousandChangesAt2400BaudEndOnTheLastValue) {
    ExpectRunsShown(2400, {1000});
}

}  // namespace
}  // namespace swb808::testing
