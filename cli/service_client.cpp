#include "cli/service_client.h"

#include <QJsonDocument>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>

#include "cli/exit_status.h"
#include "cli/interrupt.h"

namespace swb808::cli {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using local = net::local::stream_protocol;
using Stream = beast::basic_stream<local>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTurn = 10ms;
constexpr std::size_t kAnswerLimit = 1024 * 1024;

std::string Seconds(std::chrono::milliseconds timeout) {
    return std::to_string((timeout.count() + 999) / 1000) + " s";
}

// Runs `io` in turns until `done`, looking for Ctrl-C after each. Before an interruption
// leaves, `stream` is closed and its handlers have run: they refer to the caller's frame.
void RunUntil(net::io_context& io, Stream& stream, const bool& done) {
    io.restart();
    try {
        while (!done) {
            io.run_for(kTurn);
            if (!done) ThrowIfInterrupted();
        }
    } catch (...) {
        stream.close();
        io.restart();
        io.run();
        throw;
    }
}

// Connects within `timeout`; false when nothing listens at `path` (the error comes at once).
bool ConnectTo(net::io_context& io, Stream& stream, const std::string& path,
               std::chrono::milliseconds timeout) {
    local::endpoint endpoint;
    try {
        endpoint = local::endpoint(path);
    } catch (const boost::system::system_error&) {
        return false;  // too long a path for a socket: none can be there
    }
    bool done = false;
    beast::error_code result;
    stream.expires_after(timeout);
    stream.async_connect(endpoint, [&](beast::error_code ec) {
        result = ec;
        done = true;
    });
    RunUntil(io, stream, done);
    if (result == beast::error::timeout)
        throw CliFailure(ExitStatus::PortError, "swb808d does not answer on " + path + " (waited " +
                                                    Seconds(timeout) +
                                                    "); --direct opens the port here");
    return !result;
}

QJsonObject ParseJson(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

http::request<http::string_body> MakeRequest(http::verb method, const std::string& target) {
    http::request<http::string_body> req{method, target, 11};
    req.set(http::field::host, "localhost");
    req.set(http::field::user_agent, "swb808ctl/" SWB808_VERSION);
    return req;
}

}  // namespace

struct ServiceClient::Impl {
    explicit Impl(std::string socketPath) : path(std::move(socketPath)) {}
    ~Impl() {
        if (stream) stream->close();
    }

    // False when nothing listens there.
    bool Open(std::chrono::milliseconds timeout) {
        stream.emplace(io);
        buffer.clear();
        if (ConnectTo(io, *stream, path, timeout)) return true;
        stream.reset();
        return false;
    }

    ServiceAnswer Exchange(http::request<http::string_body>& req,
                           std::chrono::milliseconds timeout) {
        if (!stream && !Open(kServiceListTimeout))
            throw CliFailure(ExitStatus::PortError, "swb808d went away from " + path);
        http::response_parser<http::string_body> parser;
        parser.body_limit(kAnswerLimit);
        bool done = false;
        beast::error_code result;
        stream->expires_after(timeout);
        http::async_write(*stream, req, [&](beast::error_code ec, std::size_t) {
            if (ec) {
                result = ec;
                done = true;
                return;
            }
            http::async_read(*stream, buffer, parser, [&](beast::error_code e, std::size_t) {
                result = e;
                done = true;
            });
        });
        RunUntil(io, *stream, done);
        if (result) {
            stream.reset();
            if (result == beast::error::timeout)
                throw CliFailure(
                    ExitStatus::PortError,
                    "swb808d on " + path + " did not answer within " + Seconds(timeout));
            throw CliFailure(ExitStatus::PortError, "swb808d on " + path + ": " + result.message());
        }
        ServiceAnswer answer;
        answer.status = int(parser.get().result_int());
        answer.json = ParseJson(parser.get().body());
        if (!parser.get().keep_alive()) stream.reset();
        return answer;
    }

    const std::string path;
    net::io_context io;
    std::optional<Stream> stream;
    beast::flat_buffer buffer;
    QJsonObject boards;
};

struct ServiceEvents::Impl {
    explicit Impl(std::string socketPath) : path(std::move(socketPath)), stream(io) {}
    ~Impl() {
        // The read still pending refers to this object.
        stream.close();
        io.restart();
        io.run();
    }

    // Connects and reads the answer's head.
    void Open() {
        if (!ConnectTo(io, stream, path, kServiceListTimeout))
            throw CliFailure(ExitStatus::PortError, "swb808d went away from " + path);
        auto req = MakeRequest(http::verb::get, "/api/v1/events");
        req.set(http::field::accept, "text/event-stream");
        bool done = false;
        beast::error_code result;
        stream.expires_after(kServiceListTimeout);
        http::async_write(stream, req, [&](beast::error_code ec, std::size_t) {
            if (ec) {
                result = ec;
                done = true;
                return;
            }
            http::async_read_header(stream, buffer, parser, [&](beast::error_code e, std::size_t) {
                result = e;
                done = true;
            });
        });
        RunUntil(io, stream, done);
        if (result)
            throw CliFailure(ExitStatus::PortError,
                             "swb808d's event stream on " + path + ": " + result.message());
        if (parser.get().result() != http::status::ok)
            throw CliFailure(ExitStatus::PortError, "swb808d's event stream on " + path +
                                                        " answered " +
                                                        std::to_string(parser.get().result_int()));
        stream.expires_never();
    }

    void StartRead() {
        reading = true;
        parser.get().body().data = chunk.data();
        parser.get().body().size = chunk.size();
        http::async_read_some(stream, buffer, parser, [this](beast::error_code ec, std::size_t) {
            reading = false;
            text.append(chunk.data(), chunk.size() - parser.get().body().size);
            if (ec == http::error::need_buffer) ec = {};
            if (!ec && parser.is_done()) ec = http::error::end_of_stream;
            if (ec) ended = ec;
        });
    }

    // The data of the next whole event in `text`, if there is one.
    std::optional<QJsonObject> Take() {
        for (;;) {
            const auto end = text.find("\n\n");
            if (end == std::string::npos) return std::nullopt;
            const std::string block = text.substr(0, end);
            text.erase(0, end + 2);
            for (std::size_t at = 0; at < block.size();) {
                const std::size_t nl = std::min(block.find('\n', at), block.size());
                const std::string_view line(block.data() + at, nl - at);
                if (line.substr(0, 6) == "data: ") return ParseJson(std::string(line.substr(6)));
                at = nl + 1;
            }
        }
    }

    const std::string path;
    net::io_context io;
    Stream stream;
    beast::flat_buffer buffer;
    http::response_parser<http::buffer_body> parser;
    std::array<char, 4096> chunk{};
    std::string text;
    bool reading = false;
    beast::error_code ended;
};

ServiceClient::ServiceClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServiceClient::~ServiceClient() = default;

std::vector<std::string> ServiceClient::SocketPaths() {
    if (const char* given = std::getenv("SWB808_SOCKET"))
        return *given ? std::vector<std::string>{given} : std::vector<std::string>{};
    std::vector<std::string> paths{"/run/swb808/swb808d.sock"};
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        paths.push_back(std::string(runtime) + "/swb808d.sock");
    return paths;
}

std::unique_ptr<ServiceClient> ServiceClient::Connect() {
    for (const std::string& path : SocketPaths()) {
        auto impl = std::make_unique<Impl>(path);
        if (!impl->Open(kServiceListTimeout)) continue;
        std::unique_ptr<ServiceClient> client(new ServiceClient(std::move(impl)));
        ServiceAnswer list;
        try {
            list = client->Request("GET", "/api/v1/boards", nullptr, kServiceListTimeout);
        } catch (const CliFailure& f) {
            throw CliFailure(f.Status(), std::string(f.what()) + "; --direct opens the port here");
        }
        if (!list.Ok())
            throw CliFailure(ExitStatus::PortError,
                             "swb808d on " + path + " refused its board list (" +
                                 std::to_string(list.status) + " " + list.Detail() + ")");
        client->impl_->boards = list.json;
        return client;
    }
    return nullptr;
}

const std::string& ServiceClient::Path() const {
    return impl_->path;
}

const QJsonObject& ServiceClient::Boards() const {
    return impl_->boards;
}

ServiceAnswer ServiceClient::Request(const std::string& method, const std::string& target,
                                     const QJsonObject* body, std::chrono::milliseconds timeout) {
    auto req = MakeRequest(http::string_to_verb(method), target);
    req.set(http::field::accept, "application/json");
    if (body) {
        req.set(http::field::content_type, "application/json");
        req.body() = QJsonDocument(*body).toJson(QJsonDocument::Compact).toStdString();
    }
    req.prepare_payload();
    return impl_->Exchange(req, timeout);
}

ServiceAnswer ServiceClient::Upload(const std::string& target, const std::string& bytes,
                                    const std::string& contentType,
                                    std::chrono::milliseconds timeout) {
    auto req = MakeRequest(http::verb::post, target);
    req.set(http::field::accept, "application/json");
    req.set(http::field::content_type, contentType);
    req.body() = bytes;
    req.prepare_payload();
    return impl_->Exchange(req, timeout);
}

std::unique_ptr<ServiceEvents> ServiceClient::OpenEvents() {
    auto impl = std::make_unique<ServiceEvents::Impl>(impl_->path);
    impl->Open();
    return std::unique_ptr<ServiceEvents>(new ServiceEvents(std::move(impl)));
}

ServiceEvents::ServiceEvents(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServiceEvents::~ServiceEvents() = default;

std::optional<QJsonObject> ServiceEvents::Next(Clock::time_point deadline) {
    Impl& s = *impl_;
    for (;;) {
        if (auto event = s.Take()) return event;
        if (s.ended)
            throw CliFailure(ExitStatus::PortError, "swb808d ended its event stream on " + s.path +
                                                        " (" + s.ended.message() + ")");
        if (!s.reading) s.StartRead();
        const auto now = Clock::now();
        if (now >= deadline) return std::nullopt;
        s.io.restart();
        s.io.run_for(std::min<Clock::duration>(kTurn, deadline - now));
        ThrowIfInterrupted();
    }
}

}  // namespace swb808::cli
