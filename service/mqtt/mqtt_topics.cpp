#include "service/mqtt/mqtt_topics.h"

namespace swb808::service {

namespace {

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> levels;
    std::string::size_type start = 0;
    for (;;) {
        const auto slash = text.find('/', start);
        levels.push_back(text.substr(start, slash - start));
        if (slash == std::string::npos) return levels;
        start = slash + 1;
    }
}

}  // namespace

std::string TopicLevel(const std::string& text) {
    std::string level = text;
    for (char& c : level)
        if (c == '/' || c == '+' || c == '#' || c == '\0') c = '_';
    return level.empty() ? "_" : level;
}

bool IsTopicPath(const std::string& text) {
    if (text.empty()) return false;
    for (const std::string& level : Split(text))
        if (level.empty() || level.find_first_of(std::string("+#\0", 3)) != std::string::npos)
            return false;
    return true;
}

MqttTopics::MqttTopics(const std::string& prefix, const std::string& node)
    : base_(prefix + "/" + node + "/") {}

std::vector<std::string> MqttTopics::CommandFilters() const {
    return {base_ + "+/relay/+/set", base_ + "+/relay/+/pulse", base_ + "+/relays/set"};
}

std::optional<MqttTopics::Command> MqttTopics::ParseCommand(const std::string& topic) const {
    if (topic.compare(0, base_.size(), base_) != 0) return std::nullopt;
    const std::vector<std::string> l = Split(topic.substr(base_.size()));
    if (l.size() == 4 && l[1] == "relay" && l[3] == "set")
        return Command{CommandKind::RelaySet, l[0], l[2]};
    if (l.size() == 4 && l[1] == "relay" && l[3] == "pulse")
        return Command{CommandKind::RelayPulse, l[0], l[2]};
    if (l.size() == 3 && l[1] == "relays" && l[2] == "set")
        return Command{CommandKind::RelaysSet, l[0], {}};
    return std::nullopt;
}

}  // namespace swb808::service
