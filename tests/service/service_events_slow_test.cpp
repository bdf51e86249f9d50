// The event stream over a quiet board: what keeps a proxy from closing it and lets the page
// tell a silent stream from a dead one.

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

using namespace std::chrono_literals;

class QuietStreamTest : public ServiceTest {};

TEST_F(QuietStreamTest, PingsComeWhileTheBoardSaysNothing) {
    Board(3, Options(115200));
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    EventClient client(Port());
    ASSERT_EQ(client.Status(), 200);
    // One period is 15 s; the page takes a stream silent for 35 s as dead.
    EXPECT_TRUE(client.NextPing(20s));
    EXPECT_TRUE(client.NextPing(20s));
}

}  // namespace
}  // namespace swb808::service::test
