// Many boards, many nodes: 16 boards through one service, and two services on one broker,
// each switching only its own boards.

#include "tests/mqtt/mqtt_fixture.h"

namespace swb808::mqtt::test {
namespace {

using FleetTest = MqttTest;

TEST_F(FleetTest, SixteenBoardsThroughOneService) {
    std::vector<int> coms;
    for (int com = 1; com <= 16; ++com) {
        Board(com);
        coms.push_back(com);
    }
    Client client(broker_.Port(), "operator", "test-fleet");
    ASSERT_TRUE(client.Subscribe("swb808/#"));
    StartService("big", coms);
    for (int com : coms)
        ASSERT_TRUE(client.WaitFor(BoardTopic("big", com) + "availability", "online", 0, 60s))
            << "COM" << com << "\n"
            << services_.back()->Log();
    for (int com : coms) {
        const int relay = (com - 1) % 8 + 1;
        ASSERT_TRUE(client.Publish(
            BoardTopic("big", com) + "relay/" + std::to_string(relay) + "/set", "ON"));
    }
    for (int com : coms) {
        const int relay = (com - 1) % 8 + 1;
        EXPECT_TRUE(
            client.WaitFor(BoardTopic("big", com) + "relay/" + std::to_string(relay), "ON"));
        EXPECT_EQ(RelayWrites(*boards_[com]), std::vector<uint8_t>{uint8_t(1u << (relay - 1))})
            << "COM" << com;
    }
}

TEST_F(FleetTest, TwoNodesOnOneBrokerEachWithItsOwnBoards) {
    for (int com : {1, 2, 3, 4}) Board(com);
    Client client(broker_.Port(), "operator", "test-nodes");
    ASSERT_TRUE(client.Subscribe("swb808/#"));
    StartService("east", {1, 2});
    StartService("west", {3, 4});
    for (const auto& [node, com] : std::vector<std::pair<std::string, int>>{
             {"east", 1}, {"east", 2}, {"west", 3}, {"west", 4}})
        ASSERT_TRUE(client.WaitFor(BoardTopic(node, com) + "availability", "online", 0, 60s))
            << node << " COM" << com;
    // A topic for a board of the other node is not taken by the wrong service.
    ASSERT_TRUE(client.Publish(BoardTopic("east", 3) + "relay/1/set", "ON"));
    ASSERT_TRUE(client.WaitFor(BoardTopic("east", 3) + "error"));
    ASSERT_TRUE(client.Publish(BoardTopic("west", 3) + "relay/2/set", "ON"));
    ASSERT_TRUE(client.Publish(BoardTopic("east", 2) + "relay/3/set", "ON"));
    EXPECT_TRUE(client.WaitFor(BoardTopic("west", 3) + "relay/2", "ON"));
    EXPECT_TRUE(client.WaitFor(BoardTopic("east", 2) + "relay/3", "ON"));
    EXPECT_EQ(RelayWrites(*boards_[3]), std::vector<uint8_t>{0x02});
    EXPECT_EQ(RelayWrites(*boards_[2]), std::vector<uint8_t>{0x04});
    EXPECT_TRUE(RelayWrites(*boards_[1]).empty());
    EXPECT_TRUE(RelayWrites(*boards_[4]).empty());
    EXPECT_TRUE(client.WaitFor("swb808/east/status", "online"));
    EXPECT_TRUE(client.WaitFor("swb808/west/status", "online"));
}

}  // namespace
}  // namespace swb808::mqtt::test
