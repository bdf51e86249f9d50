#include "service/daemon.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <csignal>
#include <future>
#include <optional>
#include <thread>

#include "service/access.h"
#include "service/api_handlers.h"
#include "service/board_registry.h"
#include "service/event_hub.h"
#include "service/http_server.h"
#include "service/known_boards.h"
#include "service/local_socket_server.h"
#include "service/log.h"
#include "service/metrics.h"
#include "service/mqtt/mqtt_bridge.h"
#include "service/router.h"
#include "service/static_assets.h"
#include "service/systemd_notify.h"

namespace swb808::service {

namespace {

namespace net = boost::asio;

std::shared_ptr<const TokenStore> LoadTokens(const ServiceConfig& config) {
    if (config.tokensFile.empty()) return nullptr;
    auto store = std::make_shared<TokenStore>(TokenStore::Load(config.tokensFile));
    if (store->Empty())
        throw std::runtime_error("the tokens file " + config.tokensFile + " has no token");
    return store;
}

void KeepWatchdog(net::steady_timer& timer, std::chrono::microseconds half) {
    NotifyWatchdog();
    timer.expires_after(half);
    timer.async_wait([&timer, half](boost::system::error_code ec) {
        if (!ec) KeepWatchdog(timer, half);
    });
}

}  // namespace

int RunDaemon(const ServiceConfig& config) {
    std::shared_ptr<const TokenStore> tokens;
    try {
        tokens = LoadTokens(config);
    } catch (const std::exception& e) {
        LogError(e.what());
        return 1;
    }
    if (!tokens && !IsLoopback(config.listenHost)) {
        LogError("refusing to listen on " + config.listenHost +
                 " without a tokens file: anyone on the network could switch the boards "
                 "(make one with \"swb808d token add NAME --role R\", or listen on 127.0.0.1)");
        return 1;
    }
    bool allowLocalWrites = config.allowLocalWrites;
    if (tokens && allowLocalWrites) {
        LogWarning("--allow-local-writes is ignored: with tokens every write needs a token");
        allowLocalWrites = false;
    }
    if (!tokens && allowLocalWrites)
        LogWarning(
            "*** WRITES ARE OPEN: every local program and user may switch relays, configure, "
            "reset and flash the boards without a token (--allow-local-writes) ***");

    net::io_context io;
    EventHub hub(config.ringSize);
    Metrics metrics;
    KnownBoards known(KnownBoards::DefaultPath());
    BoardRegistry boards(config, known, hub, metrics);
    AccessPolicy access(tokens, allowLocalWrites);
    Router router;
    AddApiRoutes(router, boards, metrics, io);
    router.SetFallback(ServeStaticAsset);
    ServerContext context{router, access, metrics, hub, false, config.clientBacklog};
    HttpServer server(io, context);
    try {
        if (!config.tlsCert.empty()) server.EnableTls(config.tlsCert, config.tlsKey);
        server.Listen(config.listenHost, config.listenPort);
    } catch (const std::exception& e) {
        LogError(e.what());
        return 1;
    }
    const std::string host = config.listenHost.find(':') != std::string::npos
                                 ? "[" + config.listenHost + "]"
                                 : config.listenHost;
    LogInfo(std::string("listening on ") + (config.tlsCert.empty() ? "http" : "https") + "://" +
            host + ":" + std::to_string(server.Port()) + "/" +
            (tokens ? "" : " (no tokens: loopback only)"));
    LocalSocketServer local(io, context);
    if (const std::string path = SocketPathOf(config); !path.empty()) {
        try {
            local.Listen(path);
        } catch (const std::exception& e) {
            LogError(e.what());
            return 1;
        }
        LogInfo("listening on " + path + " (mode 0660, group " + kSocketGroup +
                "; its callers may do everything)");
    } else if (config.socketPath) {
        LogInfo("no local socket (switched off)");
    } else {
        LogInfo(
            "no local socket: neither RUNTIME_DIRECTORY nor XDG_RUNTIME_DIR is set "
            "(--socket PATH makes one)");
    }

    std::promise<int> stopped;
    net::signal_set stopSignals(io, SIGTERM, SIGINT);
    stopSignals.async_wait([&](boost::system::error_code ec, int sig) {
        if (!ec) stopped.set_value(sig);
    });
    net::steady_timer watchdog(io);
    if (const auto period = WatchdogPeriod()) KeepWatchdog(watchdog, *period / 2);

    std::optional<MqttBridge> mqtt;
    if (config.mqtt.Enabled()) {
        try {
            mqtt.emplace(config.mqtt, boards, io);
            mqtt->Start();
        } catch (const std::exception& e) {
            LogError(e.what());
            return 1;
        }
    }
    boards.Start();
    std::thread loop([&io] { io.run(); });
    NotifyReady();

    const int sig = stopped.get_future().get();
    LogInfo(std::string("stopping (") + (sig == SIGTERM ? "SIGTERM" : "SIGINT") +
            "): the commands on the wire are finished first");
    NotifyStopping();
    net::post(io, [&server, &local] {
        server.Stop();
        local.Stop();
    });
    if (mqtt) mqtt->Stop();
    boards.Stop();  // the HTTP loop keeps running meanwhile, so their answers still go out
    io.stop();
    loop.join();
    LogInfo("stopped");
    return 0;
}

}  // namespace swb808::service
