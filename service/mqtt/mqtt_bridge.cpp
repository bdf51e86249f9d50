#include "service/mqtt/mqtt_bridge.h"

#include <mosquitto.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "connection/board.h"
#include "frontend/board_event_json.h"
#include "protocol/board_text.h"
#include "protocol/device_records.h"
#include "service/board_json.h"
#include "service/board_registry.h"
#include "service/log.h"
#include "service/mqtt/mqtt_payloads.h"

namespace swb808::service {

namespace {

using namespace std::chrono_literals;

const char* OnOff(bool on) {
    return on ? "ON" : "OFF";
}

// A board without a name that was never found has no id of its own yet (it takes the one of
// its identity then): nothing is published for it, so no device appears under a passing name.
bool Settled(const BoardView& v) {
    return v.identity || !v.name.empty();
}

std::string Compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

void Check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("mqtt: " + what + ": " + mosquitto_strerror(rc));
}

// The library's process-wide set-up, once.
void InitLibrary() {
    static const int rc = mosquitto_lib_init();
    Check(rc, "the library did not start");
}

}  // namespace

MqttBridge::MqttBridge(MqttSettings settings, BoardRegistry& boards,
                       boost::asio::io_context& timers)
    : settings_(std::move(settings)),
      topics_(settings_.prefix, settings_.node),
      boards_(boards),
      timers_(timers) {
    for (const auto& b : boards_.Boards()) {
        Slot& slot = slots_.emplace_back();
        slot.owner = b.get();
        slot.level = TopicLevel(b->Id());
    }
}

MqttBridge::~MqttBridge() {
    Stop();
    if (mosq_) mosquitto_destroy(mosq_);
}

void MqttBridge::Start() {
    InitLibrary();
    if (!settings_.passwordFile.empty()) password_ = ReadMqttPassword(settings_.passwordFile);
    // A clean session: a command sent while the service was away is not carried out later.
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (!mosq_) throw std::runtime_error("mqtt: no client (out of memory or a bad client id)");
    mosquitto_connect_callback_set(mosq_, &MqttBridge::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttBridge::OnDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttBridge::OnMessage);
    mosquitto_publish_callback_set(mosq_, &MqttBridge::OnPublish);
    const std::string status = topics_.Status();
    Check(mosquitto_will_set(mosq_, status.c_str(), 7, "offline", settings_.qos, true),
          "the last will");
    if (!settings_.user.empty())
        Check(mosquitto_username_pw_set(mosq_, settings_.user.c_str(),
                                        password_.empty() ? nullptr : password_.c_str()),
              "user and password");
    if (settings_.Tls())
        Check(mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr,
                                settings_.certFile.empty() ? nullptr : settings_.certFile.c_str(),
                                settings_.keyFile.empty() ? nullptr : settings_.keyFile.c_str(),
                                nullptr),
              "TLS files");
    Check(mosquitto_reconnect_delay_set(mosq_, 1, 30, true), "the reconnect delay");
    // A state or an acknowledgement is a small packet: it must not wait for the last one's ACK.
    Check(mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1), "TCP_NODELAY");

    // Subscribed before the boards are found, so that no state between falls through.
    subscription_ = boards_.Events().Subscribe([this](const HubEventPtr& e) { HubEvent(e); });
    Check(mosquitto_loop_start(mosq_), "the network thread");
    FirstConnect(0);
}

// libmosquitto's loop reconnects a connection it once had, but not one whose first attempt
// failed at once (a broker that is down, a name not resolved yet): those are retried here.
void MqttBridge::FirstConnect(int failures) {
    const int rc = mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.EffectivePort(),
                                           settings_.keepAliveSeconds);
    const std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_SUCCESS || stopped_) return;
    if (!outageLogged_)
        LogWarning("mqtt: no broker at " + settings_.host + ":" +
                   std::to_string(settings_.EffectivePort()) + ": " + mosquitto_strerror(rc) +
                   "; retrying");
    outageLogged_ = true;
    auto timer = std::make_shared<boost::asio::steady_timer>(
        timers_, std::chrono::seconds(std::min(30, 1 << std::min(failures, 5))));
    timer->async_wait([this, timer, failures](boost::system::error_code ec) {
        if (ec) return;
        {
            const std::lock_guard stopping(mutex_);
            if (stopped_) return;
        }
        FirstConnect(failures + 1);
    });
}

void MqttBridge::Stop() {
    if (!mosq_) return;
    subscription_.Reset();
    std::unique_lock lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    if (connected_) {
        for (Slot& s : slots_)
            if (Settled(s.owner->View()))
                Publish(topics_.Of(s.level, "availability"), "offline", true);
        // The will is only sent for a lost connection: an orderly end says so itself.
        offlineMid_ = Publish(topics_.Status(), "offline", true);
        if (offlineMid_ >= 0 && settings_.qos > 0)
            published_.wait_for(lock, 2s, [this] { return offlineDone_; });
    }
    connected_ = false;
    lock.unlock();
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
}

// --- libmosquitto's thread ---

void MqttBridge::OnConnect(mosquitto*, void* self, int rc) {
    auto* bridge = static_cast<MqttBridge*>(self);
    if (rc == 0) return bridge->Connected();
    const std::lock_guard lock(bridge->mutex_);
    if (!bridge->outageLogged_)
        LogWarning("mqtt: the broker refused the connection: " +
                   std::string(mosquitto_connack_string(rc)) + " (check user, password and ACL)");
    bridge->outageLogged_ = true;
}

void MqttBridge::OnDisconnect(mosquitto*, void* self, int rc) {
    auto* bridge = static_cast<MqttBridge*>(self);
    const std::lock_guard lock(bridge->mutex_);
    bridge->connected_ = false;
    if (rc != 0 && !bridge->stopped_ && !bridge->outageLogged_)
        LogWarning("mqtt: lost the broker (" + std::string(mosquitto_strerror(rc)) +
                   "); reconnecting");
    bridge->outageLogged_ = rc != 0;
}

void MqttBridge::OnPublish(mosquitto*, void* self, int mid) {
    auto* bridge = static_cast<MqttBridge*>(self);
    const std::lock_guard lock(bridge->mutex_);
    if (mid != bridge->offlineMid_) return;
    bridge->offlineDone_ = true;
    bridge->published_.notify_all();
}

void MqttBridge::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    const std::string payload(static_cast<const char*>(m->payload), size_t(m->payloadlen));
    static_cast<MqttBridge*>(self)->Message(m->topic, payload, m->retain);
}

void MqttBridge::Connected() {
    std::vector<std::string> filters = topics_.CommandFilters();
    if (settings_.discovery != DiscoveryForm::Off)
        filters.push_back(settings_.discoveryPrefix + "/status");
    for (const auto& f : filters) {
        const int rc = mosquitto_subscribe(mosq_, nullptr, f.c_str(), settings_.qos);
        if (rc != MOSQ_ERR_SUCCESS)
            LogError("mqtt: could not subscribe to " + f + ": " + mosquitto_strerror(rc));
    }
    const std::lock_guard lock(mutex_);
    LogInfo("mqtt: connected to " + settings_.host + ":" +
            std::to_string(settings_.EffectivePort()) + " as node " + settings_.node + " (" +
            topics_.Base() + "...)");
    connected_ = true;
    outageLogged_ = false;
    Publish(topics_.Status(), "online", true);
    PublishEverything();
}

void MqttBridge::Message(const std::string& topic, const std::string& payload, bool retained) {
    if (topic == settings_.discoveryPrefix + "/status") {
        // A retained "online" is the one the connect has answered already.
        if (payload != "online" || retained) return;
        const std::lock_guard lock(mutex_);
        PublishEverything();
        return;
    }
    if (retained) {
        // Left on the broker by someone, maybe long ago: it must not switch on a (re)connect.
        LogWarning("mqtt: ignored the retained command on " + topic +
                   " (commands are carried out only as they are sent)");
        return;
    }
    Command(topic, payload);
}

void MqttBridge::Command(const std::string& topic, const std::string& payload) {
    const auto command = topics_.ParseCommand(topic);
    if (!command) return;
    Slot* slot = nullptr;
    {
        const std::lock_guard lock(mutex_);
        for (Slot& s : slots_)
            if (s.level == command->board) slot = &s;
        if (!slot) {
            PublishError(command->board, topic, "no board \"" + command->board + "\"",
                         "unknown_board");
            return;
        }
    }
    BoardOwner& owner = *slot->owner;
    const std::string who = "mqtt (" + topic + ")";
    const std::string where = owner.Id() + " (" + owner.View().port.Name() + ")";
    try {
        using Kind = MqttTopics::CommandKind;
        if (command->kind == Kind::RelaysSet) {
            const RelaysChange change = ParseRelaysChange(payload);
            LogChange(who, where + ": relays " + payload);
            RelayCommand(*slot, "write_relays", topic, [change](Board& b) -> Result<uint8_t> {
                const Result<void> r =
                    change.mask ? b.WriteRelays(*change.mask) : b.SetRelays(change.on, change.off);
                if (!r) return Failure{r.error()};
                return b.ReadRelays();
            });
            return;
        }
        const int n = ParseRelayLevel(command->relay);
        const uint8_t bit = uint8_t(1u << (n - 1));
        if (command->kind == Kind::RelaySet) {
            const SwitchTo to = ParseSwitch(payload);
            LogChange(who, where + ": relay " + std::to_string(n) + " " + payload);
            RelayCommand(*slot, "write_relays", topic,
                         [&owner, n, bit, to](Board& b) -> Result<uint8_t> {
                             bool on = to == SwitchTo::On;
                             if (to == SwitchTo::Toggle) {
                                 const BoardView v = owner.View();
                                 on = !(v.records && (v.records->relays & bit));
                             }
                             const Result<void> r = b.SetRelay(n, on);
                             if (!r) return Failure{r.error()};
                             return b.ReadRelays();
                         });
            return;
        }
        const int64_t ms = ParsePulseMs(payload);
        LogChange(who,
                  where + ": relay " + std::to_string(n) + " pulse " + std::to_string(ms) + " ms");
        RelayCommand(
            *slot, "write_relays", topic, [this, slot, n, ms, topic](Board& b) -> Result<uint8_t> {
                const Result<void> r = b.SetRelay(n, true);
                if (!r) return Failure{r.error()};
                // The off command is queued when the time is up, behind what came meanwhile.
                auto timer = std::make_shared<boost::asio::steady_timer>(
                    timers_, std::chrono::milliseconds(ms));
                timer->async_wait([this, timer, slot, n, topic](boost::system::error_code ec) {
                    if (ec) return;
                    RelayCommand(*slot, "write_relays", topic,
                                 [n](Board& board) -> Result<uint8_t> {
                                     const Result<void> off = board.SetRelay(n, false);
                                     if (!off) return Failure{off.error()};
                                     return board.ReadRelays();
                                 });
                });
                return b.ReadRelays();
            });
    } catch (const std::exception& e) {
        const std::lock_guard lock(mutex_);
        PublishError(slot->level, topic, e.what(), "bad_payload");
    }
}

// --- Any thread ---

void MqttBridge::RelayCommand(Slot& slot, const std::string& what, const std::string& topic,
                              std::function<Result<uint8_t>(Board&)> command) {
    BoardOwner* owner = slot.owner;
    {
        const std::lock_guard lock(mutex_);
        ++slot.ownCommands;
    }
    owner->Submit(
        what,
        [command = std::move(command)](Board& b) -> Result<QJsonObject> {
            const Result<uint8_t> mask = command(b);
            if (!mask) return Failure{mask.error()};
            return QJsonObject{{"relays", *mask}};
        },
        [this, owner, topic](Result<QJsonObject> r) {
            if (r) {
                owner->NoteRelays(uint8_t((*r)["relays"].toInt()));
                Reported(owner, uint8_t((*r)["relays"].toInt()));
            } else {
                CommandFailed(owner, topic, r.error());
            }
        });
}

void MqttBridge::Reported(BoardOwner* owner, uint8_t relays) {
    const std::lock_guard lock(mutex_);
    Slot* slot = SlotOf(owner);
    if (!slot) return;
    if (slot->ownCommands > 0) --slot->ownCommands;
    PublishRelays(*slot, relays, false);
}

void MqttBridge::CommandFailed(BoardOwner* owner, const std::string& topic,
                               const BoardError& error) {
    const std::lock_guard lock(mutex_);
    Slot* slot = SlotOf(owner);
    if (!slot) return;
    if (slot->ownCommands > 0) --slot->ownCommands;
    if (!topic.empty()) PublishError(slot->level, topic, error.message, ErrcName(error.code));
}

void MqttBridge::HubEvent(const HubEventPtr& e) {
    bool readBack = false;
    Slot* slot = nullptr;
    {
        const std::lock_guard lock(mutex_);
        slot = SlotOf(e->board);
        if (!slot || stopped_ || !Settled(slot->owner->View())) return;
        Publish(topics_.Of(slot->level, "event"), e->json, false);
        if (e->type == "state") {
            PublishBoard(*slot, true);
        } else if (e->type == EventKindName(BoardEventKind::InputChange)) {
            PublishInputs(*slot, uint8_t(e->data["inputs"].toInt()), false);
        } else if (e->type == EventKindName(BoardEventKind::RelayChange)) {
            // Another front end wrote (what it asked for): the board is asked what it has.
            const uint8_t mask = uint8_t(e->data["relays"].toInt());
            readBack = slot->ownCommands == 0 && slot->relays != mask;
            if (readBack) ++slot->ownCommands;
        }
    }
    if (!readBack) return;
    BoardOwner* owner = slot->owner;
    owner->Submit(
        "read_relays",
        [](Board& b) -> Result<QJsonObject> {
            const Result<uint8_t> mask = b.ReadRelays();
            if (!mask) return Failure{mask.error()};
            return QJsonObject{{"relays", *mask}};
        },
        [this, owner](Result<QJsonObject> r) {
            if (r)
                Reported(owner, uint8_t((*r)["relays"].toInt()));
            else
                CommandFailed(owner, {}, r.error());
        });
}

// --- Under mutex_ ---

MqttBridge::Slot* MqttBridge::SlotOf(const std::string& boardId) {
    for (Slot& s : slots_)
        if (s.owner->Id() == boardId) {
            // A board without a name takes the id of its identity when it is first found.
            if (s.level != TopicLevel(boardId)) {
                s.level = TopicLevel(boardId);
                s.discovered = false;
            }
            return &s;
        }
    return nullptr;
}

MqttBridge::Slot* MqttBridge::SlotOf(BoardOwner* owner) {
    for (Slot& s : slots_)
        if (s.owner == owner) return &s;
    return nullptr;
}

void MqttBridge::PublishEverything() {
    for (Slot& s : slots_) {
        s.level = TopicLevel(s.owner->Id());
        s.discovered = false;
        PublishBoard(s, false);
    }
}

void MqttBridge::PublishBoard(Slot& slot, bool fresh) {
    const BoardView v = slot.owner->View();
    if (!Settled(v)) return;
    const bool online = v.state == BoardState::Online;
    if (!slot.discovered) {
        DiscoveredBoard d{slot.level, v.name.empty() ? v.id : v.name,
                          v.records ? AnsiToUtf8(v.records->firmwareVersion) : std::string(),
                          v.identity ? v.identity->key : std::string()};
        for (const MqttMessage& m : DiscoveryMessages(settings_, topics_, d))
            Publish(m.topic, m.payload, true);
        slot.discovered = v.records.has_value();  // again once the firmware is known
    }
    Publish(topics_.Of(slot.level, "info"), Compact(BoardSummaryJson(v)), true);
    if (online && v.records) {
        // What the board reported when it was found, or since: never what was asked.
        PublishRelays(slot, fresh || !slot.relays ? v.records->relays : *slot.relays, true);
        PublishInputs(slot, v.records->inputs, true);
        char volts[32];
        std::snprintf(volts, sizeof volts, "%.3f", VccVolts(uint32_t(v.records->vccRaw)));
        Publish(topics_.Of(slot.level, "supply"), volts, true);
    }
    Publish(topics_.Of(slot.level, "availability"), online ? "online" : "offline", true);
}

void MqttBridge::PublishRelays(Slot& slot, uint8_t mask, bool all) {
    PublishBits(slot.level, "relay", mask, all ? -1 : slot.relays.value_or(-1));
    slot.relays = mask;
}

void MqttBridge::PublishInputs(Slot& slot, uint8_t mask, bool all) {
    PublishBits(slot.level, "input", mask, all ? -1 : slot.inputs.value_or(-1));
    slot.inputs = mask;
}

void MqttBridge::PublishBits(const std::string& level, const std::string& one, uint8_t mask,
                             int before) {
    for (int n = 1; n <= 8; ++n) {
        const unsigned bit = 1u << (n - 1);
        if (before < 0 || (unsigned(before) & bit) != (mask & bit))
            Publish(topics_.Of(level, one + "/" + std::to_string(n)), OnOff(mask & bit), true);
    }
    if (before != int(mask)) Publish(topics_.Of(level, one + "s"), std::to_string(mask), true);
}

void MqttBridge::PublishError(const std::string& level, const std::string& topic,
                              const std::string& why, const std::string& code) {
    LogWarning("mqtt: " + topic + ": " + why);
    Publish(topics_.Of(level, "error"),
            Compact(QJsonObject{{"error", QString::fromStdString(code)},
                                {"message", QString::fromStdString(why)},
                                {"topic", QString::fromStdString(topic)}}),
            false);
}

int MqttBridge::Publish(const std::string& topic, const std::string& payload, bool retain) {
    // Nothing is queued while the broker is away: the reconnect publishes every state anew.
    if (!connected_) return -1;
    int mid = -1;
    const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), int(payload.size()),
                                     payload.data(), settings_.qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) return -1;
    return mid;
}

}  // namespace swb808::service
