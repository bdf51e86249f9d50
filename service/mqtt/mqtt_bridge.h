#pragma once

// The boards on an MQTT broker. libmosquitto runs the connection on a thread of its own
// (mosquitto_loop_start) and reconnects with backoff; commands that arrive there are checked
// and posted to the boards' owner threads; the boards' events come from the service's event
// hub. State topics carry what a board reported (its state read when it was found, a read
// after every write, its input changes), never what was asked. On every (re)connect, and
// when Home Assistant announces itself, discovery and every state are published again from
// what the service holds: a reconnect never writes to a board.
//
// Threads: Start and Stop from the daemon's thread; everything else runs on libmosquitto's
// thread, the boards' threads and the timer loop, with the shared part under mutex_.

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "connection/board.h"
#include "service/event_hub.h"
#include "service/mqtt/mqtt_discovery.h"
#include "service/mqtt/mqtt_settings.h"
#include "service/mqtt/mqtt_topics.h"

struct mosquitto;
struct mosquitto_message;

namespace swb808::service {

class BoardOwner;
class BoardRegistry;

class MqttBridge {
  public:
    // `timers` runs the ends of pulses; it must run until Stop.
    MqttBridge(MqttSettings settings, BoardRegistry& boards, boost::asio::io_context& timers);
    ~MqttBridge();
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Throws std::runtime_error for settings libmosquitto refuses (a TLS file, the password).
    // The broker need not be up: the connection is retried until it is.
    void Start();
    // "offline" on the status topic, then the connection is closed. Replies of commands that
    // are still running afterwards are dropped.
    void Stop();

  private:
    struct Slot {
        BoardOwner* owner = nullptr;
        std::string level;              // the topic level of the board's id
        std::optional<uint8_t> relays;  // as last reported by the board
        std::optional<uint8_t> inputs;
        int ownCommands = 0;  // this bridge's commands on the board's queue
        bool discovered = false;
    };

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnPublish(mosquitto*, void* self, int mid);

    void FirstConnect(int failures);  // then again after 1 s doubling to 30 s while it fails
    void Connected();
    void Message(const std::string& topic, const std::string& payload, bool retained);
    void Command(const std::string& topic, const std::string& payload);
    void HubEvent(const HubEventPtr& event);
    // Runs `command` on the board; the relays it reports back are published.
    void RelayCommand(Slot& slot, const std::string& what, const std::string& topic,
                      std::function<Result<uint8_t>(Board&)> command);
    void Reported(BoardOwner* owner, uint8_t relays);
    void CommandFailed(BoardOwner* owner, const std::string& topic, const BoardError& error);

    // Under mutex_:
    Slot* SlotOf(const std::string& boardId);
    Slot* SlotOf(BoardOwner* owner);
    void PublishEverything();
    // `fresh`: the board was just read (found); else its last reported relays are kept.
    void PublishBoard(Slot& slot, bool fresh);
    void PublishRelays(Slot& slot, uint8_t mask, bool all);
    void PublishInputs(Slot& slot, uint8_t mask, bool all);
    // "<one>/<n>" for each bit that differs from `before` (all when it is -1), and the mask.
    void PublishBits(const std::string& level, const std::string& one, uint8_t mask, int before);
    void PublishError(const std::string& level, const std::string& topic, const std::string& why,
                      const std::string& code);
    int Publish(const std::string& topic, const std::string& payload, bool retain);

    const MqttSettings settings_;
    const MqttTopics topics_;
    BoardRegistry& boards_;
    boost::asio::io_context& timers_;
    mosquitto* mosq_ = nullptr;
    std::string password_;

    std::mutex mutex_;
    std::vector<Slot> slots_;
    bool connected_ = false;
    bool stopped_ = false;
    bool outageLogged_ = false;
    std::condition_variable published_;  // the last will's stand-in reached the broker
    int offlineMid_ = -1;
    bool offlineDone_ = false;

    EventHub::Subscription subscription_;
};

}  // namespace swb808::service
