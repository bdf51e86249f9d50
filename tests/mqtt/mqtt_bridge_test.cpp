// swb808d on a real broker: commands, what is reported, the retain rule, the last will, a
// broker restart and Home Assistant's discovery. None of them may switch a relay unasked.

#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "tests/mqtt/mqtt_fixture.h"

namespace swb808::mqtt::test {
namespace {

const std::string kB3 = BoardTopic("n1", 3);

sim::BoardOptions Options(uint8_t relays, uint8_t inputs = 0) {
    sim::BoardOptions o;
    o.relays = relays;
    o.inputs = inputs;
    return o;
}

QJsonObject Json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

class BridgeTest : public MqttTest {
  protected:
    // A board on COM3, the service as node n1, and a switching client that sees everything.
    void StartWithBoard(sim::BoardOptions options = {}, const std::string& extraMqtt = {}) {
        board_ = &Board(3, options);
        client_ = std::make_unique<Client>(broker_.Port(), "operator", "test-operator");
        ASSERT_TRUE(client_->Subscribe("swb808/#"));
        ASSERT_TRUE(client_->Subscribe("homeassistant/#"));
        StartService("n1", {3}, extraMqtt);
        ASSERT_TRUE(client_->WaitFor(kB3 + "availability", "online"))
            << services_.back()->Log() << broker_.Log();
    }
    // Sends `payload` to `topic` and waits until `state` says `expected` after it.
    bool Command(const std::string& topic, const std::string& payload, const std::string& state,
                 const std::string& expected) {
        const std::size_t from = client_->Count();
        return client_->Publish(topic, payload) && client_->WaitFor(state, expected, from);
    }
    sim::BoardSimulator* board_ = nullptr;
    std::unique_ptr<Client> client_;
};

TEST_F(BridgeTest, ASetSwitchesWithOneFrameAndTheStateIsWhatTheBoardReported) {
    StartWithBoard(Options(0x01));
    ASSERT_TRUE(client_->WaitFor(kB3 + "relay/1", "ON"));
    board_->ClearRecord();
    ASSERT_TRUE(Command(kB3 + "relay/3/set", "ON", kB3 + "relay/3", "ON"));
    EXPECT_EQ(RelayWrites(*board_), std::vector<uint8_t>{0x05});
    EXPECT_EQ(board_->Relays(), 0x05);
    ASSERT_TRUE(client_->WaitFor(kB3 + "relays", "5"));

    // Retained for whoever comes later.
    Client late(broker_.Port(), "viewer", "test-late");
    ASSERT_TRUE(late.Subscribe(kB3 + "relay/3"));
    const auto retained = late.WaitFor(kB3 + "relay/3");
    ASSERT_TRUE(retained);
    EXPECT_EQ(retained->payload, "ON");
    EXPECT_TRUE(retained->retained);

    ASSERT_TRUE(Command(kB3 + "relays/set", R"({"on": [8], "off": [1]})", kB3 + "relays", "132"));
    ASSERT_TRUE(Command(kB3 + "relay/8/set", "toggle", kB3 + "relay/8", "OFF"));
    EXPECT_EQ(RelayWrites(*board_), (std::vector<uint8_t>{0x05, 0x84, 0x04}));

    // A board that does not answer the read after the write: nothing is claimed for it.
    board_->SetSilent(true);
    const std::size_t from = client_->Count();
    ASSERT_TRUE(client_->Publish(kB3 + "relay/7/set", "ON"));
    const auto error = client_->WaitFor(kB3 + "error", {}, from);
    ASSERT_TRUE(error);
    EXPECT_EQ(Json(error->payload)["error"], "no_answer") << error->payload;
    for (const auto& m : client_->Received())
        EXPECT_FALSE(m.topic == kB3 + "relay/7" && m.payload == "ON") << "published what was asked";
}

TEST_F(BridgeTest, AWriteThroughTheHttpApiIsReportedOnceTheBoardConfirmsIt) {
    StartWithBoard();
    const std::size_t from = client_->Count();
    ASSERT_EQ(HttpPut(httpPort_, "/api/v1/boards/b3/relays/5", R"({"state": "on"})"), 200);
    EXPECT_TRUE(client_->WaitFor(kB3 + "relay/5", "ON", from));
    EXPECT_EQ(CountFrames(*board_, 0xB2), 1);
}

TEST_F(BridgeTest, PayloadsThatAreNotUnderstoodAreRejectedOnTheErrorTopic) {
    StartWithBoard();
    board_->ClearRecord();
    const struct {
        std::string topic, payload, says;
    } bad[] = {
        {"relay/3/set", "MAYBE", "ON, OFF or TOGGLE"},
        {"relay/9/set", "ON", "relays are 1 to 8"},
        {"relay/x/pulse", "100", "relays are 1 to 8"},
        {"relay/2/pulse", "0", "1 to 600000 ms"},
        {"relays/set", R"({"mask": 256})", "from 0 to 255"},
        {"relays/set", R"({"on": [1], "off": [1]})", "in both"},
        {"relays/set", "not json", "not a JSON object"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.topic + " " + b.payload);
        const std::size_t from = client_->Count();
        ASSERT_TRUE(client_->Publish(kB3 + b.topic, b.payload));
        const auto error = client_->WaitFor(kB3 + "error", {}, from);
        ASSERT_TRUE(error);
        EXPECT_NE(error->payload.find(b.says), std::string::npos) << error->payload;
        EXPECT_EQ(Json(error->payload)["topic"].toString().toStdString(), kB3 + b.topic);
        EXPECT_FALSE(error->retained);
    }
    EXPECT_EQ(CountFrames(*board_, 0xB2), 0);
}

TEST_F(BridgeTest, AnInputChangeAppearsOnItsTopicsAndAsAnEvent) {
    StartWithBoard();
    const std::size_t from = client_->Count();
    board_->SetInputs(0x81);
    EXPECT_TRUE(client_->WaitFor(kB3 + "input/1", "ON", from));
    EXPECT_TRUE(client_->WaitFor(kB3 + "input/8", "ON", from));
    EXPECT_TRUE(client_->WaitFor(kB3 + "inputs", "129", from));
    const auto event = client_->WaitFor(kB3 + "event", {}, from);
    ASSERT_TRUE(event);
    EXPECT_EQ(Json(event->payload)["type"], "input_change");
    EXPECT_EQ(Json(event->payload)["inputs"], 0x81);
    EXPECT_FALSE(event->retained);
    for (const auto& m : client_->Received())
        EXPECT_FALSE(m.topic == kB3 + "input/4" && m.payload == "ON")
            << "an input that did not change";
}

TEST_F(BridgeTest, NothingSwitchesWithoutAFreshAllowedCommand) {
    {
        // Left on the broker long before the service starts.
        Client old(broker_.Port(), "operator", "test-old");
        ASSERT_TRUE(old.Publish(kB3 + "relay/1/set", "ON", true));
    }
    StartWithBoard();
    Client viewer(broker_.Port(), "viewer", "test-viewer");
    ASSERT_TRUE(viewer.Publish(kB3 + "relay/4/set", "ON"));  // the broker's ACL drops it
    ASSERT_TRUE(Command(kB3 + "relay/2/set", "ON", kB3 + "relay/2", "ON"));
    EXPECT_EQ(RelayWrites(*board_), std::vector<uint8_t>{0x02});
    EXPECT_TRUE(
        services_.back()->WaitForLog("ignored the retained command on " + kB3 + "relay/1/set"));
}

TEST_F(BridgeTest, AKilledServiceIsOfflineWithinTheKeepAlive) {
    StartWithBoard();
    ASSERT_TRUE(client_->WaitFor("swb808/n1/status", "online"));
    const std::size_t from = client_->Count();
    services_.back()->Signal(SIGKILL);
    const auto will = client_->WaitFor("swb808/n1/status", "offline", from, 5s * 3 / 2 + 5s);
    ASSERT_TRUE(will) << broker_.Log();
    Client late(broker_.Port(), "viewer", "test-late");
    ASSERT_TRUE(late.Subscribe("swb808/n1/status"));
    const auto kept = late.WaitFor("swb808/n1/status");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->payload, "offline");
    EXPECT_TRUE(kept->retained);
}

TEST_F(BridgeTest, AnOrderlyStopSaysOfflineForTheNodeAndItsBoards) {
    StartWithBoard();
    const std::size_t from = client_->Count();
    services_.back()->Signal(SIGTERM);
    EXPECT_EQ(services_.back()->Wait(), 0);
    EXPECT_TRUE(client_->WaitFor("swb808/n1/status", "offline", from));
    EXPECT_TRUE(client_->WaitFor(kB3 + "availability", "offline", from));
}

TEST_F(BridgeTest, AfterABrokerRestartEverythingIsRepublishedAndNothingWritten) {
    StartWithBoard(Options(0x30, 0x02));
    ASSERT_TRUE(Command(kB3 + "relay/1/set", "ON", kB3 + "relay/1", "ON"));
    board_->ClearRecord();
    client_.reset();
    broker_.Stop();  // no persistence: every retained message is gone with it
    broker_.Start();
    ASSERT_TRUE(services_.back()->WaitForLog("lost the broker"));

    client_ = std::make_unique<Client>(broker_.Port(), "operator", "test-after");
    ASSERT_TRUE(client_->Subscribe("swb808/#"));
    ASSERT_TRUE(client_->Subscribe("homeassistant/#"));
    EXPECT_TRUE(client_->WaitFor("swb808/n1/status", "online"));
    EXPECT_TRUE(client_->WaitFor("homeassistant/device/swb808_n1_b3/config"));
    EXPECT_TRUE(client_->WaitFor(kB3 + "relays", "49"));
    EXPECT_TRUE(client_->WaitFor(kB3 + "relay/1", "ON"));
    EXPECT_TRUE(client_->WaitFor(kB3 + "inputs", "2"));
    EXPECT_TRUE(client_->WaitFor(kB3 + "supply", "4.853"));
    EXPECT_TRUE(client_->WaitFor(kB3 + "availability", "online"));
    EXPECT_EQ(CountFrames(*board_, 0xB2), 0) << "a reconnect wrote to the board";

    ASSERT_TRUE(Command(kB3 + "relay/2/set", "ON", kB3 + "relay/2", "ON"));
    EXPECT_EQ(RelayWrites(*board_), std::vector<uint8_t>{0x33});
}

TEST_F(BridgeTest, ABrokerThatIsNotUpYetIsWaitedFor) {
    Board(3);
    broker_.Stop();
    Process& service = StartService("n1", {3});
    ASSERT_TRUE(service.WaitForLog("online at 115200 Bd")) << service.Log();
    broker_.Start();
    Client client(broker_.Port(), "viewer", "test-late");
    ASSERT_TRUE(client.Subscribe("swb808/#"));
    EXPECT_TRUE(client.WaitFor(kB3 + "availability", "online", 0, 5s)) << service.Log();
    EXPECT_TRUE(client.WaitFor(kB3 + "relays", "0"));
}

TEST_F(BridgeTest, DiscoveryDescribesTheBoardAndIsRepublishedWhenHomeAssistantComesOnline) {
    StartWithBoard();
    const std::string topic = "homeassistant/device/swb808_n1_b3/config";
    Client late(broker_.Port(), "viewer", "test-late");
    ASSERT_TRUE(late.Subscribe(topic));
    const auto kept = late.WaitFor(topic);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->retained);
    const QJsonObject doc = Json(kept->payload);
    EXPECT_EQ(doc["device"]["identifiers"][0], "swb808_n1_b3");
    EXPECT_EQ(doc["device"]["sw_version"], "1.07a");
    EXPECT_EQ(doc["availability"][0]["topic"], "swb808/n1/status");
    EXPECT_EQ(doc["availability"][1]["topic"].toString().toStdString(), kB3 + "availability");
    EXPECT_EQ(doc["availability_mode"], "all");
    const QJsonObject c = doc["components"].toObject();
    EXPECT_EQ(c.size(), 18);
    EXPECT_EQ(c["relay3"]["platform"], "switch");
    EXPECT_EQ(c["relay3"]["command_topic"].toString().toStdString(), kB3 + "relay/3/set");
    EXPECT_EQ(c["input8"]["platform"], "binary_sensor");
    EXPECT_EQ(c["supply"]["device_class"], "voltage");
    EXPECT_EQ(c["firmware"]["entity_category"], "diagnostic");

    board_->ClearRecord();
    const std::size_t from = client_->Count();
    ASSERT_TRUE(client_->Publish("homeassistant/status", "online"));
    EXPECT_TRUE(client_->WaitFor(topic, {}, from));
    EXPECT_TRUE(client_->WaitFor(kB3 + "relay/1", "OFF", from));
    EXPECT_EQ(CountFrames(*board_, 0xB2), 0);
}

TEST_F(BridgeTest, ThePerEntityFormPublishesOneDocumentPerEntity) {
    StartWithBoard({}, "discovery = entity");
    const auto relay = client_->WaitFor("homeassistant/switch/swb808_n1_b3/relay5/config");
    ASSERT_TRUE(relay);
    const QJsonObject doc = Json(relay->payload);
    EXPECT_EQ(doc["device"]["identifiers"][0], "swb808_n1_b3");
    EXPECT_TRUE(client_->WaitFor("homeassistant/binary_sensor/swb808_n1_b3/input1/config"));
    EXPECT_TRUE(client_->WaitFor("homeassistant/sensor/swb808_n1_b3/supply/config"));
    for (const auto& m : client_->Received())
        EXPECT_NE(m.topic.rfind("homeassistant/device/", 0), 0u) << m.topic;
}

TEST_F(BridgeTest, APulseSwitchesOnAndTheServiceSwitchesItOff) {
    StartWithBoard();
    board_->ClearRecord();
    ASSERT_TRUE(Command(kB3 + "relay/6/pulse", "50", kB3 + "relay/6", "ON"));
    const std::size_t from = client_->Count();
    ASSERT_TRUE(client_->WaitFor(kB3 + "relay/6", "OFF", from));
    EXPECT_EQ(RelayWrites(*board_), (std::vector<uint8_t>{0x20, 0x00}));
}

}  // namespace
}  // namespace swb808::mqtt::test
