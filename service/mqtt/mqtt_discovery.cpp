#include "service/mqtt/mqtt_discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>

namespace swb808::service {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string Compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

struct Entity {
    std::string key;        // "relay3": the object id within the device
    std::string component;  // "switch", "binary_sensor", "sensor"
    QJsonObject config;
};

std::vector<Entity> Entities(const MqttTopics& topics, const std::string& uid,
                             const std::string& board) {
    std::vector<Entity> all;
    for (int n = 1; n <= 8; ++n) {
        const std::string key = "relay" + std::to_string(n);
        all.push_back({key, "switch",
                       QJsonObject{{"name", Q("Relais " + std::to_string(n))},
                                   {"unique_id", Q(uid + "_" + key)},
                                   {"state_topic", Q(topics.Relay(board, n))},
                                   {"command_topic", Q(topics.Relay(board, n) + "/set")},
                                   {"payload_on", "ON"},
                                   {"payload_off", "OFF"}}});
    }
    for (int n = 1; n <= 8; ++n) {
        const std::string key = "input" + std::to_string(n);
        all.push_back({key, "binary_sensor",
                       QJsonObject{{"name", Q("Opto " + std::to_string(n))},
                                   {"unique_id", Q(uid + "_" + key)},
                                   {"state_topic", Q(topics.Input(board, n))},
                                   {"payload_on", "ON"},
                                   {"payload_off", "OFF"}}});
    }
    all.push_back({"supply", "sensor",
                   QJsonObject{{"name", "Supply"},
                               {"unique_id", Q(uid + "_supply")},
                               {"state_topic", Q(topics.Of(board, "supply"))},
                               {"device_class", "voltage"},
                               {"state_class", "measurement"},
                               {"unit_of_measurement", "V"}}});
    all.push_back({"firmware", "sensor",
                   QJsonObject{{"name", "Firmware"},
                               {"unique_id", Q(uid + "_firmware")},
                               {"state_topic", Q(topics.Of(board, "info"))},
                               {"value_template", "{{ value_json.firmware }}"},
                               {"entity_category", "diagnostic"}}});
    return all;
}

}  // namespace

std::string DiscoveryUniqueId(const std::string& node, const std::string& boardLevel) {
    std::string uid = "swb808_" + node + "_" + boardLevel;
    for (char& c : uid)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    return uid;
}

std::vector<MqttMessage> DiscoveryMessages(const MqttSettings& settings, const MqttTopics& topics,
                                           const DiscoveredBoard& board) {
    if (settings.discovery == DiscoveryForm::Off) return {};
    const std::string uid = DiscoveryUniqueId(settings.node, board.level);
    QJsonObject device{
        {"identifiers", QJsonArray{Q(uid)}}, {"name", Q(board.name)}, {"model", "SWB808"}};
    if (!board.firmware.empty()) device["sw_version"] = Q(board.firmware);
    if (!board.identity.empty()) device["serial_number"] = Q(board.identity);
    const QJsonObject origin{{"name", "swb808d"}, {"sw_version", SWB808_VERSION}};
    const QJsonArray availability{
        QJsonObject{{"topic", Q(topics.Status())}},
        QJsonObject{{"topic", Q(topics.Of(board.level, "availability"))}}};
    const auto common = [&](QJsonObject& o) {
        o["availability"] = availability;
        o["availability_mode"] = "all";
        o["qos"] = settings.qos;
    };

    const std::string prefix = settings.discoveryPrefix + "/";
    std::vector<MqttMessage> out;
    if (settings.discovery == DiscoveryForm::Device) {
        QJsonObject components;
        for (Entity& e : Entities(topics, uid, board.level)) {
            e.config["platform"] = Q(e.component);
            components[Q(e.key)] = e.config;
        }
        QJsonObject doc{{"device", device}, {"origin", origin}, {"components", components}};
        common(doc);
        out.push_back({prefix + "device/" + uid + "/config", Compact(doc)});
        return out;
    }
    for (Entity& e : Entities(topics, uid, board.level)) {
        e.config["device"] = device;
        e.config["origin"] = origin;
        common(e.config);
        out.push_back(
            {prefix + e.component + "/" + uid + "/" + e.key + "/config", Compact(e.config)});
    }
    return out;
}

}  // namespace swb808::service
