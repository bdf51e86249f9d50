// A board's life under the service: a pulled adapter, a restart of the service, another board
// on a known port. None of them may switch a relay.

#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

constexpr uint8_t kRelayWrite = 0xB2;

int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class LifecycleTest : public ServiceTest {
  protected:
    std::string Base() { return "/api/v1/boards/" + BoardId(3); }
};

TEST_F(LifecycleTest, APulledAdapterGoesOfflineAndComesBackWithoutAWrite) {
    auto& board = Board(3, Options(115200, 0x12));
    StartService({"--port", "COM3", "--baud", "115200", "--allow-local-writes"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string base = Base();
    EventClient events(Port());
    ASSERT_EQ(events.Status(), 200);

    board.Stop();  // the adapter is pulled: the line hangs up, the device goes away
    const auto offline = events.NextOfType("state", 5s);
    ASSERT_TRUE(offline) << Service().Log();
    EXPECT_EQ(offline->data["state"], "offline");
    const HttpAnswer refused = Put(base + "/relays/1", R"({"state":"on"})");
    EXPECT_EQ(refused.status, 503);
    EXPECT_GE(
        std::stoi(refused.Header("retry-after").empty() ? "0" : refused.Header("retry-after")), 1);
    EXPECT_EQ(Get(base + "/inputs?fresh=1").status, 503);
    EXPECT_EQ(Get(base + "/relays").Json()["relays"].toInt(), 0x12);  // the last known state
    std::this_thread::sleep_for(3500ms);  // a few retries fail meanwhile

    board.ClearRecord();
    board.Start();  // plugged in again
    const auto online = events.NextOfType("state", 20s);
    ASSERT_TRUE(online) << Service().Log();
    EXPECT_EQ(online->data["state"], "online");
    EXPECT_EQ(Get(base + "/relays").Json()["relays"].toInt(), 0x12);
    EXPECT_EQ(CountFrames(board, kRelayWrite), 0);
    EXPECT_EQ(board.Relays(), 0x12);
    EXPECT_EQ(Occurrences(Service().Log(), "board offline"), 1) << Service().Log();
    EXPECT_EQ(Occurrences(Service().Log(), "no board:"), 0) << "retries are logged once per outage";
    EXPECT_EQ(Put(base + "/relays/1", R"({"state":"on"})").status, 200);
    EXPECT_EQ(board.Relays(), 0x13);
}

TEST_F(LifecycleTest, ARestartReadsTheBoardAndWritesNothing) {
    auto& board = Board(3, Options(57600, 0x21, 0x40));
    StartService({"--port", "COM3"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string id = BoardId(3);
    StopService();

    board.SetRelays(0x0F);  // switched by someone else while the service was down
    board.ClearRecord();
    StartService({"--port", "COM3"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    EXPECT_EQ(BoardId(3), id);
    const QJsonObject info = Get(Base()).Json();
    EXPECT_EQ(info["relays"].toInt(), 0x0F);
    EXPECT_EQ(info["inputs"].toInt(), 0x40);
    EXPECT_EQ(info["baud"].toInt(), 57600);
    EXPECT_EQ(CountFrames(board, kRelayWrite), 0);
    EXPECT_EQ(board.ResetCount(), 0);
    // The rate found the first time is tried first: nothing was sent at any other rate.
    for (const auto& w : board.WireLog())
        if (w.kind == sim::WireEvent::Kind::Bytes && !w.sent) {
            EXPECT_TRUE(w.understood);
        }
}

TEST_F(LifecycleTest, AStopDuringAPulseSwitchesTheRelayOff) {
    auto& board = Board(3, Options(115200));
    StartService({"--port", "COM3", "--baud", "115200", "--allow-local-writes"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    EXPECT_EQ(Post(Base() + "/relays/5/pulse", R"({"ms":60000})").status, 200);
    for (int i = 0; i < 100 && board.Relays() != 0x10; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(board.Relays(), 0x10);
    StopService();
    EXPECT_EQ(board.Relays(), 0x00);
}

TEST_F(LifecycleTest, AnotherBoardOnAKnownPortIsReportedAndLeftAlone) {
    Board(3, Options(115200));
    StartService({"--port", "COM3", "--baud", "115200", "--allow-local-writes"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string id = BoardId(3);
    StopService();

    auto& other = Board(3, Options(115200, 0x03, 0, "SWB808 Relaiskarte S/N 004711"));
    other.ClearRecord();
    StartService({"--port", "COM3", "--allow-local-writes"});
    ASSERT_TRUE(WaitForState(3, "other_board")) << Service().Log();
    EXPECT_EQ(BoardId(3), id);
    EXPECT_TRUE(Service().WaitForLog("left alone"));
    const HttpAnswer a = Put("/api/v1/boards/" + id + "/relays", R"({"mask":0})");
    EXPECT_EQ(a.status, 409);
    EXPECT_EQ(CountFrames(other, kRelayWrite), 0);
    EXPECT_EQ(other.Relays(), 0x03);
}

}  // namespace
}  // namespace swb808::service::test

namespace swb808::service::test {
namespace {

TEST_F(LifecycleTest, TwoBoardsWithOneIdentityGetAnIdEach) {
    auto& three = Board(3, Options(115200));
    auto& four = Board(4, Options(115200));
    StartService({"--port", "COM3", "--port", "COM4", "--baud", "115200", "--allow-local-writes"});
    ASSERT_TRUE(WaitForState(3, "online") && WaitForState(4, "online")) << Service().Log();
    ASSERT_NE(BoardId(3), BoardId(4));
    EXPECT_EQ(Put("/api/v1/boards/" + BoardId(3) + "/relays", R"({"mask":3})").status, 200);
    EXPECT_EQ(Put("/api/v1/boards/" + BoardId(4) + "/relays", R"({"mask":4})").status, 200);
    for (int i = 0; i < 100 && (three.Relays() != 3 || four.Relays() != 4); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(three.Relays(), 3);
    EXPECT_EQ(four.Relays(), 4);
}

}  // namespace
}  // namespace swb808::service::test
