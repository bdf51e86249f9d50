// The bridge's parts without a broker: payloads, topics, settings, discovery documents.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

#include "service/config.h"
#include "service/mqtt/mqtt_discovery.h"
#include "service/mqtt/mqtt_payloads.h"
#include "service/mqtt/mqtt_topics.h"

namespace swb808::service {
namespace {

TEST(MqttPayloads, SwitchWordsAndPulsesAreReadStrictly) {
    EXPECT_EQ(ParseSwitch("ON"), SwitchTo::On);
    EXPECT_EQ(ParseSwitch(" off\n"), SwitchTo::Off);
    EXPECT_EQ(ParseSwitch("Toggle"), SwitchTo::Toggle);
    for (const char* bad : {"", "1", "ONN", "on off", "{\"state\":\"on\"}"})
        EXPECT_THROW(ParseSwitch(bad), std::runtime_error) << bad;
    EXPECT_EQ(ParsePulseMs("250"), 250);
    EXPECT_EQ(ParsePulseMs(R"({"ms": 600000})"), 600000);
    for (const char* bad : {"0", "-5", "600001", "1.5", "250ms", "", R"({"ms": 0})", R"({"s": 1})"})
        EXPECT_THROW(ParsePulseMs(bad), std::runtime_error) << bad;
    EXPECT_EQ(ParseRelayLevel("8"), 8);
    for (const char* bad : {"0", "9", "x", "1a", ""})
        EXPECT_THROW(ParseRelayLevel(bad), std::runtime_error) << bad;
}

TEST(MqttPayloads, RelaysChangeIsAMaskOrOnAndOffLists) {
    EXPECT_EQ(ParseRelaysChange(R"({"mask": 255})").mask, 255);
    const RelaysChange c = ParseRelaysChange(R"({"on": [1, 8], "off": [2]})");
    EXPECT_FALSE(c.mask);
    EXPECT_EQ(c.on, 0x81);
    EXPECT_EQ(c.off, 0x02);
    for (const char* bad : {"{}", "[1]", R"({"mask": 256})", R"({"mask": 1, "on": [2]})",
                            R"({"on": [3], "off": [3]})", R"({"on": [9]})", R"({"relays": 1})"})
        EXPECT_THROW(ParseRelaysChange(bad), std::runtime_error) << bad;
}

TEST(MqttTopics, CommandsAreFoundOnlyUnderTheNode) {
    const MqttTopics t("swb808", "lab1");
    const auto set = t.ParseCommand("swb808/lab1/b3/relay/3/set");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->kind, MqttTopics::CommandKind::RelaySet);
    EXPECT_EQ(set->board, "b3");
    EXPECT_EQ(set->relay, "3");
    EXPECT_EQ(t.ParseCommand("swb808/lab1/b3/relay/9/pulse")->kind,
              MqttTopics::CommandKind::RelayPulse);
    EXPECT_EQ(t.ParseCommand("swb808/lab1/b3/relays/set")->kind,
              MqttTopics::CommandKind::RelaysSet);
    for (const char* other : {"swb808/lab2/b3/relay/3/set", "swb808/lab1/b3/relay/3",
                              "swb808/lab1/b3/relay/3/set/x", "swb808/lab1/relays/set"})
        EXPECT_FALSE(t.ParseCommand(other)) << other;
    EXPECT_EQ(TopicLevel("a/b+c#"), "a_b_c_");
    EXPECT_TRUE(IsTopicPath("site/hall"));
    for (const char* bad : {"", "a//b", "a/+", "#", "/a"}) EXPECT_FALSE(IsTopicPath(bad)) << bad;
}

TEST(MqttSettings, CommandLineAndFileMeetInTheSettings) {
    auto line = ParseCommandLine({"--port", "COM3", "--mqtt", "broker.lan:1884"});
    EXPECT_EQ(line.config.mqtt.host, "broker.lan");
    EXPECT_EQ(line.config.mqtt.EffectivePort(), 1884);
    EXPECT_EQ(line.config.mqtt.qos, 1);
    EXPECT_FALSE(line.config.mqtt.node.empty());
    EXPECT_EQ(line.config.mqtt.clientId, "swb808d-" + line.config.mqtt.node);
    EXPECT_EQ(ParseCommandLine({"--port", "COM3", "--mqtt", "[::1]"}).config.mqtt.host, "::1");
    EXPECT_FALSE(ParseCommandLine({"--port", "COM3"}).config.mqtt.Enabled());
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--mqtt", "b:0"}, {"--mqtt", ":1883"}, {"--mqtt", "b:x"}, {"--mqtt"}})
        EXPECT_THROW(ParseCommandLine([&] {
                         auto a = bad;
                         a.insert(a.begin(), {"--port", "COM3"});
                         return a;
                     }()),
                     ConfigError);

    MqttSettings s;
    for (const auto& [k, v] :
         std::vector<std::pair<std::string, std::string>>{{"host", "b"},
                                                          {"ca", "/ca.pem"},
                                                          {"node", "hall"},
                                                          {"qos", "0"},
                                                          {"discovery", "entity"}})
        SetMqttKey(k, v, s);
    FinishMqttSettings(s);
    EXPECT_EQ(s.EffectivePort(), 8883);
    EXPECT_EQ(s.qos, 0);
    EXPECT_EQ(s.discovery, DiscoveryForm::Entity);
    EXPECT_THROW(SetMqttKey("qos", "3", s), ConfigError);
    EXPECT_THROW(SetMqttKey("colour", "red", s), ConfigError);
    for (const char* node : {"a/+", "#", "a//b"}) {
        MqttSettings n;
        n.host = "b";
        n.node = node;
        EXPECT_THROW(FinishMqttSettings(n), ConfigError) << node;
    }
    MqttSettings half;
    half.host = "b";
    half.certFile = "c.pem";
    EXPECT_THROW(FinishMqttSettings(half), ConfigError);
}

TEST(MqttDiscovery, OneDeviceDocumentOrOneDocumentPerEntity) {
    MqttSettings s;
    s.node = "lab1";
    const MqttTopics t(s.prefix, s.node);
    const DiscoveredBoard board{"b3", "Hall", "1.07a", "SWB808 S/N 1"};
    const auto device = DiscoveryMessages(s, t, board);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(device[0].topic, "homeassistant/device/swb808_lab1_b3/config");
    const QJsonObject doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(device[0].payload)).object();
    EXPECT_EQ(doc["components"]["relay1"]["state_topic"], "swb808/lab1/b3/relay/1");
    EXPECT_EQ(doc["components"]["relay1"]["unique_id"], "swb808_lab1_b3_relay1");
    EXPECT_EQ(doc["device"]["name"], "Hall");

    s.discovery = DiscoveryForm::Entity;
    const auto entities = DiscoveryMessages(s, t, board);
    ASSERT_EQ(entities.size(), 18u);
    EXPECT_EQ(entities[0].topic, "homeassistant/switch/swb808_lab1_b3/relay1/config");
    EXPECT_EQ(entities[17].topic, "homeassistant/sensor/swb808_lab1_b3/firmware/config");
    s.discovery = DiscoveryForm::Off;
    EXPECT_TRUE(DiscoveryMessages(s, t, board).empty());
    EXPECT_EQ(DiscoveryUniqueId("lab.1", "b 3"), "swb808_lab_1_b_3");
}

}  // namespace
}  // namespace swb808::service
