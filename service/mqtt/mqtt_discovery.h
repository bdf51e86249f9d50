#pragma once

// Home Assistant's discovery documents for one board: a device with a switch per relay, a
// binary sensor per input, the supply voltage and the firmware (diagnostic), available while
// both the node's status and the board's availability say online. Device-based (one document
// on <discovery prefix>/device/<unique id>/config), or one document per entity for
// installations older than that form.

#include <string>
#include <vector>

#include "service/mqtt/mqtt_settings.h"
#include "service/mqtt/mqtt_topics.h"

namespace swb808::service {

struct DiscoveredBoard {
    std::string level;     // the board's topic level
    std::string name;      // shown in Home Assistant: the configured name, else the id
    std::string firmware;  // empty while unknown
    std::string identity;  // empty while unknown
};

struct MqttMessage {
    std::string topic;
    std::string payload;
};

// "swb808_<node>_<board>" in the characters discovery topics allow.
std::string DiscoveryUniqueId(const std::string& node, const std::string& boardLevel);

// The documents for `settings.discovery` (none when it is Off).
std::vector<MqttMessage> DiscoveryMessages(const MqttSettings& settings, const MqttTopics& topics,
                                           const DiscoveredBoard& board);

}  // namespace swb808::service
