#pragma once

// End-to-end fixture for the broker bridge: a real mosquitto on a free loopback port, with a
// password file and an ACL made here; swb808d processes against simulated boards on
// pseudo-terminals of this process (so a test sees every frame a board took); and MQTT
// clients on libmosquitto that record what they receive.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/board_simulator.h"
#include "tests/support/logged_process.h"
#include "tests/support/port_dir.h"

struct mosquitto;
struct mosquitto_message;

namespace swb808::mqtt::test {

using namespace std::chrono_literals;

// A child process with its standard error collected.
using Process = swb808::test::LoggedProcess;

uint16_t FreePort();

// The topics of node `node`'s board on COM n (its id is its configured name "bN").
inline std::string BoardTopic(const std::string& node, int com) {
    return "swb808/" + node + "/b" + std::to_string(com) + "/";
}

// mosquitto with users "service", "operator" (may switch) and "viewer" (reads only).
class Broker {
  public:
    explicit Broker(const std::string& dir);
    static bool Installed();
    void Start();  // on the same port each time
    void Stop();
    uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }

  private:
    void Configure();
    std::string dir_;
    uint16_t port_;
    std::unique_ptr<Process> process_;
};

// PUT with a JSON body on the service's HTTP API: the status (0 for no answer).
int HttpPut(uint16_t port, const std::string& target, const std::string& body);

struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
};

class Client {
  public:
    Client(uint16_t port, const std::string& user, const std::string& id);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Connected(std::chrono::milliseconds timeout = 10s);
    // Returns once the broker acknowledged the subscription.
    bool Subscribe(const std::string& filter);
    // QoS 1; returns once the broker acknowledged it (or at once without `wait`).
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false,
                 bool wait = true);
    // The first message on `topic` from the `from`-th received on (with `payload` when given).
    std::optional<Message> WaitFor(const std::string& topic,
                                   std::optional<std::string> payload = {}, std::size_t from = 0,
                                   std::chrono::milliseconds timeout = 20s);
    std::vector<Message> Received() const;
    std::size_t Count() const;

  private:
    static void OnMessage(mosquitto*, void*, const mosquitto_message*);
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> received_;
    bool connected_ = false;
    int acked_ = 0;  // subscriptions and publishes the broker acknowledged
};

class MqttTest : public ::testing::Test {
  protected:
    MqttTest();
    ~MqttTest() override;
    void SetUp() override;

    sim::BoardSimulator& Board(int com, sim::BoardOptions options = {});
    // swb808d on `coms` as node `node`, with [mqtt] settings added to the defaults.
    Process& StartService(const std::string& node, const std::vector<int>& coms,
                          const std::string& extraMqtt = {});
    static int CountFrames(const sim::BoardSimulator& board, uint8_t command);
    // The payloads of the relay writes a board took.
    static std::vector<uint8_t> RelayWrites(const sim::BoardSimulator& board);

    std::string dir_;
    uint16_t httpPort_ = 0;  // of the service started last
    swb808::test::TempPortDir ports_;
    Broker broker_;
    std::map<int, std::unique_ptr<sim::BoardSimulator>> boards_;
    std::vector<std::unique_ptr<Process>> services_;
};

}  // namespace swb808::mqtt::test
