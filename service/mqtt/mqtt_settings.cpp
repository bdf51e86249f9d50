#include "service/mqtt/mqtt_settings.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <stdexcept>

#include "service/config.h"
#include "service/mqtt/mqtt_topics.h"

namespace swb808::service {

namespace {

int Number(const std::string& text, int low, int high, const std::string& what) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw ConfigError("bad mqtt " + what + ": \"" + text + "\"");
    return value;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "swb808";
    std::string host(name);
    return host.substr(0, host.find('.'));
}

}  // namespace

void ParseMqttAddress(const std::string& text, MqttSettings& settings) {
    std::string host = text;
    const auto close = text.rfind(']');
    const auto colon = text.rfind(':');
    const bool bracketed = !text.empty() && text.front() == '[';
    if (colon != std::string::npos &&
        (bracketed ? close != std::string::npos && colon > close : text.find(':') == colon)) {
        host = text.substr(0, colon);
        settings.port = uint16_t(Number(text.substr(colon + 1), 1, 65535, "port"));
    }
    if (bracketed && host.size() >= 2 && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) throw ConfigError("the broker is HOST:PORT, not \"" + text + "\"");
    settings.host = host;
}

void SetMqttKey(const std::string& key, const std::string& value, MqttSettings& s) {
    if (key == "host")
        ParseMqttAddress(value, s);
    else if (key == "port")
        s.port = uint16_t(Number(value, 1, 65535, "port"));
    else if (key == "ca")
        s.caFile = value;
    else if (key == "cert")
        s.certFile = value;
    else if (key == "key")
        s.keyFile = value;
    else if (key == "user")
        s.user = value;
    else if (key == "password_file")
        s.passwordFile = value;
    else if (key == "client_id")
        s.clientId = value;
    else if (key == "prefix")
        s.prefix = value;
    else if (key == "node")
        s.node = value;
    else if (key == "qos")
        s.qos = Number(value, 0, 2, "qos");
    else if (key == "keepalive")
        s.keepAliveSeconds = Number(value, 5, 65535, "keepalive");
    else if (key == "discovery_prefix")
        s.discoveryPrefix = value;
    else if (key == "discovery") {
        if (value == "device")
            s.discovery = DiscoveryForm::Device;
        else if (value == "entity")
            s.discovery = DiscoveryForm::Entity;
        else if (value == "off")
            s.discovery = DiscoveryForm::Off;
        else
            throw ConfigError("mqtt discovery is device, entity or off, not \"" + value + "\"");
    } else
        throw ConfigError("unknown key \"" + key + "\" in [mqtt]");
}

void FinishMqttSettings(MqttSettings& s) {
    if (!s.Enabled()) return;
    if (s.node.empty()) s.node = TopicLevel(HostName());
    if (s.clientId.empty()) s.clientId = "swb808d-" + s.node;
    // Wildcards or an empty level here would make the service subscribe to other nodes' topics.
    for (const auto& [what, text] : {std::pair{"node", &s.node},
                                     {"prefix", &s.prefix},
                                     {"discovery_prefix", &s.discoveryPrefix}})
        if (!IsTopicPath(*text))
            throw ConfigError(std::string("mqtt ") + what + " \"" + *text +
                              "\" is no topic (no +, #, empty levels or NUL)");
    if (s.certFile.empty() != s.keyFile.empty())
        throw ConfigError("a client certificate needs both mqtt cert and key");
    if (!s.certFile.empty() && !s.Tls()) throw ConfigError("a client certificate needs mqtt ca");
    if (!s.passwordFile.empty() && s.user.empty())
        throw ConfigError("an mqtt password_file needs its user");
}

std::string ReadMqttPassword(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the mqtt password file " + path);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace swb808::service
