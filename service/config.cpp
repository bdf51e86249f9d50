#include "service/config.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <boost/asio/ip/address.hpp>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace swb808::service {

namespace {

template <class T>
T Number(const std::string& text, T low, T high, const std::string& what) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw ConfigError("bad " + what + ": \"" + text + "\"");
    return value;
}

}  // namespace

PortRef ParsePort(const std::string& text) {
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') &&
        (text[1] == 'O' || text[1] == 'o') && (text[2] == 'M' || text[2] == 'm'))
        return PortRef::Com(Number<int>(text.substr(3), 1, 16, "COM port"));
    if (text.empty() || text[0] != '/')
        throw ConfigError("a port is COM1..COM16 or a device path: \"" + text + "\"");
    return PortRef::Device(text);
}

void ParseListen(const std::string& text, ServiceConfig& config) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw ConfigError("listen on ADDR:PORT, not \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "0.0.0.0";
    boost::system::error_code ec;
    boost::asio::ip::make_address(host, ec);
    if (ec) throw ConfigError("not an address: \"" + host + "\"");
    config.listenHost = host;
    config.listenPort =
        Number<uint16_t>(text.substr(colon + 1), 0, 65535, "listen port");  // 0: any free one
}

bool IsLoopback(const std::string& host) {
    boost::system::error_code ec;
    const auto a = boost::asio::ip::make_address(host, ec);
    return !ec && a.is_loopback();
}

std::string DefaultSocketPath() {
    // RUNTIME_DIRECTORY may list several, separated by colons; the unit names one.
    if (const char* dirs = std::getenv("RUNTIME_DIRECTORY"); dirs && *dirs) {
        const std::string first(dirs, std::strcspn(dirs, ":"));
        return first + "/swb808d.sock";
    }
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir)
        return std::string(dir) + "/swb808d.sock";
    return {};
}

std::string SocketPathOf(const ServiceConfig& config) {
    return config.socketPath ? *config.socketPath : DefaultSocketPath();
}

void ReadConfigFile(const std::string& path, ServiceConfig& config) {
    if (!QFileInfo(QString::fromStdString(path)).isReadable())
        throw ConfigError("cannot read the configuration " + path);
    QSettings ini(QString::fromStdString(path), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) throw ConfigError("malformed configuration " + path);
    const auto text = [&](const char* key) { return ini.value(key).toString().toStdString(); };
    ini.beginGroup("service");
    if (ini.contains("listen")) ParseListen(text("listen"), config);
    if (ini.contains("tokens")) config.tokensFile = text("tokens");
    if (ini.contains("tls_cert")) config.tlsCert = text("tls_cert");
    if (ini.contains("tls_key")) config.tlsKey = text("tls_key");
    if (ini.contains("allow_local_writes"))
        config.allowLocalWrites = ini.value("allow_local_writes").toBool();
    if (ini.contains("socket")) config.socketPath = text("socket");
    if (ini.contains("queue"))
        config.queueLimit = Number<std::size_t>(text("queue"), 1, 10000, "queue");
    if (ini.contains("event_ring"))
        config.ringSize = Number<std::size_t>(text("event_ring"), 1000, 1000000, "event_ring");
    if (ini.contains("event_backlog"))
        config.clientBacklog =
            Number<std::size_t>(text("event_backlog"), 1, 100000, "event_backlog");
    ini.endGroup();
    ini.beginGroup("mqtt");
    for (const QString& key : ini.childKeys()) SetMqttKey(key.toStdString(), text(key.toUtf8().constData()), config.mqtt);
    ini.endGroup();
    for (const QString& group : ini.childGroups()) {
        if (!group.startsWith("board")) continue;
        ini.beginGroup(group);
        BoardConfig board;
        board.name = ini.value("name", group.mid(5).trimmed()).toString().toStdString();
        if (!ini.contains("port")) throw ConfigError("[" + group.toStdString() + "] has no port");
        board.port = ParsePort(text("port"));
        if (ini.contains("baud")) board.baud = Number<int>(text("baud"), 300, 230400, "baud");
        config.boards.push_back(board);
        ini.endGroup();
    }
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    std::string configFile;
    std::vector<std::string> ports;
    std::string listen;
    std::string mqtt;
    int baud = 0;
    std::size_t i = 0;
    const auto value = [&](const std::string& option) -> std::string {
        if (i + 1 >= args.size()) throw ConfigError(option + " needs a value");
        return args[++i];
    };
    if (!args.empty() && args[0] == "token") {
        if (args.size() < 3 || args[1] != "add")
            throw ConfigError("usage: swb808d token add NAME --role ROLE");
        cl.tokenCommand = true;
        cl.token.name = args[2];
        for (i = 3; i < args.size(); ++i) {
            if (args[i] == "--role")
                cl.token.role = value(args[i]);
            else if (args[i] == "--tokens")
                cl.token.tokensFile = value(args[i]);
            else
                throw ConfigError("unknown option " + args[i]);
        }
        if (cl.token.role.empty())
            throw ConfigError("token add needs --role viewer|operator|admin");
        return cl;
    }
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help")
            cl.help = true;
        else if (a == "--config")
            configFile = value(a);
        else if (a == "--port")
            ports.push_back(value(a));
        else if (a == "--baud")
            baud = Number<int>(value(a), 300, 230400, "baud");
        else if (a == "--listen")
            listen = value(a);
        else if (a == "--tokens")
            cl.config.tokensFile = value(a);
        else if (a == "--tls-cert")
            cl.config.tlsCert = value(a);
        else if (a == "--tls-key")
            cl.config.tlsKey = value(a);
        else if (a == "--mqtt")
            mqtt = value(a);
        else if (a == "--allow-local-writes")
            cl.config.allowLocalWrites = true;
        else if (a == "--socket")
            cl.config.socketPath = value(a);
        else if (a == "--no-socket")
            cl.config.socketPath = std::string();
        else
            throw ConfigError("unknown option " + a);
    }
    if (cl.help) return cl;
    const ServiceConfig fromLine = cl.config;
    if (!configFile.empty() || ports.empty()) {
        const std::string path = configFile.empty() ? kDefaultConfigFile : configFile;
        if (!configFile.empty() || QFileInfo::exists(QString::fromStdString(path)))
            ReadConfigFile(path, cl.config);
    }
    // The command line wins over the file.
    if (!fromLine.tokensFile.empty()) cl.config.tokensFile = fromLine.tokensFile;
    if (!fromLine.tlsCert.empty()) cl.config.tlsCert = fromLine.tlsCert;
    if (!fromLine.tlsKey.empty()) cl.config.tlsKey = fromLine.tlsKey;
    if (fromLine.socketPath) cl.config.socketPath = fromLine.socketPath;
    cl.config.allowLocalWrites = cl.config.allowLocalWrites || fromLine.allowLocalWrites;
    if (!listen.empty()) ParseListen(listen, cl.config);
    if (!mqtt.empty()) ParseMqttAddress(mqtt, cl.config.mqtt);
    FinishMqttSettings(cl.config.mqtt);
    if (!ports.empty()) {
        cl.config.boards.clear();
        for (const auto& p : ports) cl.config.boards.push_back({{}, ParsePort(p), baud});
    }
    // A unit hands the root-only tokens file over as a credential (LoadCredential=tokens:...).
    if (cl.config.tokensFile.empty()) {
        if (const char* creds = std::getenv("CREDENTIALS_DIRECTORY"); creds && *creds) {
            const std::string path = std::string(creds) + "/tokens";
            if (QFileInfo::exists(QString::fromStdString(path))) cl.config.tokensFile = path;
        }
    }
    if (cl.config.tlsCert.empty() != cl.config.tlsKey.empty())
        throw ConfigError("TLS needs both --tls-cert and --tls-key");
    if (cl.config.boards.empty())
        throw ConfigError("no board: give --port or a configuration with [board ...] sections");
    return cl;
}

std::string UsageText() {
    return "usage: swb808d [--port PORT]... [--baud N] [--listen ADDR:PORT] [--config FILE]\n"
           "               [--tokens FILE] [--tls-cert FILE --tls-key FILE] "
           "[--allow-local-writes]\n"
           "               [--mqtt HOST:PORT] [--socket PATH | --no-socket]\n"
           "       swb808d token add NAME --role viewer|operator|admin [--tokens FILE]\n";
}

}  // namespace swb808::service
