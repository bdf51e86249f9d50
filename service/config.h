#pragma once

// What swb808d runs with: the command line, and the INI file it may name (default
// /etc/swb808/swb808d.conf, read when no --port is given):
//
//     [service]
//     listen = 127.0.0.1:8808
//     tokens = /etc/swb808/tokens
//     tls_cert = ...            tls_key = ...
//     allow_local_writes = false
//     socket = /run/swb808/swb808d.sock   (empty: none)
//     [mqtt]                    (a broker: see mqtt_settings.h)
//     [board lab1]              (every section "board ..." is a board; the rest is its name)
//     port = /dev/serial/by-id/usb-...
//     baud = 115200             (optional: tried first)

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "connection/port_ref.h"
#include "service/mqtt/mqtt_settings.h"

namespace swb808::service {

inline constexpr const char* kDefaultConfigFile = "/etc/swb808/swb808d.conf";
inline constexpr const char* kDefaultTokensFile = "/etc/swb808/tokens";

struct BoardConfig {
    std::string name;  // empty: the id is made from the board's identity
    PortRef port;
    int baud = 0;  // 0: the scan's order
};

struct ServiceConfig {
    std::vector<BoardConfig> boards;
    std::string listenHost = "127.0.0.1";
    uint16_t listenPort = 8808;
    std::string tokensFile;  // empty: no tokens
    std::string tlsCert, tlsKey;
    bool allowLocalWrites = false;
    // The local socket: nullopt for the default place (DefaultSocketPath), empty for none.
    std::optional<std::string> socketPath;
    std::size_t queueLimit = 16;      // requests waiting per board
    std::size_t ringSize = 4096;      // events kept for Last-Event-ID
    std::size_t clientBacklog = 512;  // events queued for one slow event client
    MqttSettings mqtt;                // [mqtt], --mqtt HOST:PORT
};

class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `swb808d token add NAME --role R [--tokens FILE]`.
struct TokenCommand {
    std::string name;
    std::string role;
    std::string tokensFile = kDefaultTokensFile;
};

struct CommandLine {
    bool help = false;
    bool tokenCommand = false;
    TokenCommand token;
    ServiceConfig config;
};

// Throws ConfigError with a one-line reason.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
void ReadConfigFile(const std::string& path, ServiceConfig& config);
PortRef ParsePort(const std::string& text);  // "COM3" or a device path
// "ADDR:PORT", "[v6]:PORT" or ":PORT".
void ParseListen(const std::string& text, ServiceConfig& config);
bool IsLoopback(const std::string& host);
// $RUNTIME_DIRECTORY/swb808d.sock when the service manager made the service a runtime
// directory, else $XDG_RUNTIME_DIR/swb808d.sock; empty when neither is set.
std::string DefaultSocketPath();
// The socket the configuration asks for; empty for none.
std::string SocketPathOf(const ServiceConfig& config);

std::string UsageText();

}  // namespace swb808::service
