#pragma once

// swb808d's HTTP API on its local socket, for a command whose board the service holds. One
// request at a time on one connection, each bounded in time, with Ctrl-C seen within 10 ms
// as in every other wait of the tool. The event stream has a connection of its own.

#include <QJsonObject>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace swb808::cli {

// The service answers its board list from what it knows, without a board: this long is
// plenty, and a service that takes longer is taken for hung.
inline constexpr std::chrono::milliseconds kServiceListTimeout{2000};

struct ServiceAnswer {
    int status = 0;
    QJsonObject json;  // the body; a failure's is a problem with its "detail"
    std::string Detail() const { return json["detail"].toString().toStdString(); }
    bool Ok() const { return status >= 200 && status < 300; }
};

class ServiceEvents;

class ServiceClient {
  public:
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // Where a service's socket may be: $SWB808_SOCKET alone when it is set (empty: none),
    // else /run/swb808/swb808d.sock, then $XDG_RUNTIME_DIR/swb808d.sock.
    static std::vector<std::string> SocketPaths();
    // The first of them a service listens on; null when none does (no file, nobody
    // listening there, or no permission to connect), at once. A service that accepts but does
    // not answer its board list within kServiceListTimeout throws CliFailure(PortError).
    static std::unique_ptr<ServiceClient> Connect();

    const std::string& Path() const;
    // GET /api/v1/boards, fetched by Connect.
    const QJsonObject& Boards() const;

    // Throws CliFailure(PortError) when the service does not answer within `timeout` or
    // closes the connection; Interrupted for a Ctrl-C.
    ServiceAnswer Request(const std::string& method, const std::string& target,
                          const QJsonObject* body, std::chrono::milliseconds timeout);
    // A body of bytes (a firmware image) as `contentType`.
    ServiceAnswer Upload(const std::string& target, const std::string& bytes,
                         const std::string& contentType, std::chrono::milliseconds timeout);
    // GET /api/v1/events on a connection of its own, its answer's head read: from now on no
    // event is missed.
    std::unique_ptr<ServiceEvents> OpenEvents();

  private:
    struct Impl;
    explicit ServiceClient(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The service's event stream, one event's JSON at a time.
class ServiceEvents {
  public:
    ~ServiceEvents();
    ServiceEvents(const ServiceEvents&) = delete;
    ServiceEvents& operator=(const ServiceEvents&) = delete;

    // The next event or notice ("type" says which); nullopt at `deadline`. Throws
    // CliFailure(PortError) when the service ends the stream, Interrupted for a Ctrl-C.
    std::optional<QJsonObject> Next(std::chrono::steady_clock::time_point deadline);

  private:
    friend class ServiceClient;
    struct Impl;
    explicit ServiceEvents(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace swb808::cli
