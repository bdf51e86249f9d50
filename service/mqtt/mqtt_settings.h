#pragma once

// How swb808d reaches its broker: `--mqtt HOST:PORT`, or the [mqtt] section of the
// configuration:
//
//     [mqtt]
//     host = broker.lan         port = 1883 (8883 with TLS)
//     ca = /etc/ssl/certs/ca.pem                       (TLS when set)
//     cert = client.pem          key = client.key      (a client certificate, optional)
//     user = swb808              password_file = /etc/swb808/mqtt-password
//     client_id = swb808d-lab1   (default "swb808d-" and the node)
//     prefix = swb808            node = lab1           (default: the host's name)
//     qos = 1                    keepalive = 30        (seconds)
//     discovery = device         (device, entity or off; prefix homeassistant)
//     discovery_prefix = homeassistant

#include <cstdint>
#include <string>

namespace swb808::service {

enum class DiscoveryForm { Device, Entity, Off };

struct MqttSettings {
    std::string host;   // empty: no broker
    uint16_t port = 0;  // 0: 1883, or 8883 with TLS
    std::string caFile, certFile, keyFile;
    std::string user, passwordFile;
    std::string clientId;
    std::string prefix = "swb808";
    std::string node;  // empty: the host's name
    int qos = 1;
    int keepAliveSeconds = 30;
    DiscoveryForm discovery = DiscoveryForm::Device;
    std::string discoveryPrefix = "homeassistant";

    bool Enabled() const { return !host.empty(); }
    bool Tls() const { return !caFile.empty(); }
    uint16_t EffectivePort() const { return port != 0 ? port : Tls() ? 8883 : 1883; }
};

// "HOST:PORT", "[v6]:PORT" or "HOST"; throws ConfigError.
void ParseMqttAddress(const std::string& text, MqttSettings& settings);
// One key of the [mqtt] section; throws ConfigError for an unknown key or a bad value.
void SetMqttKey(const std::string& key, const std::string& value, MqttSettings& settings);
// Defaults that depend on the machine (node, client id); throws ConfigError when the
// settings do not fit together (a key without its certificate, a name that is no topic level).
void FinishMqttSettings(MqttSettings& settings);
// The first line of the password file; throws std::runtime_error.
std::string ReadMqttPassword(const std::string& path);

}  // namespace swb808::service
