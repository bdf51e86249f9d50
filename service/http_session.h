#pragma once

// One HTTP connection: plain or TLS over TCP, or plain on the local socket. Beast reads the
// header first, so that the route's body limit holds before any of the body is read; then
// access is checked, the handler answers (at once, or later from a board's thread) and the
// next request is read. An event stream takes the connection over.

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "service/event_stream.h"
#include "service/problem.h"
#include "service/responses.h"
#include "service/router.h"
#include "service/server_context.h"

namespace swb808::service {

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;
using UnixStream = boost::beast::basic_stream<boost::asio::local::stream_protocol>;

template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  public:
    // `trusted`: the caller is known by the connection itself (the local socket), not by a
    // token.
    HttpSession(Stream stream, ServerContext& context, std::optional<Caller> trusted = {})
        : stream_(std::move(stream)), context_(context), trusted_(std::move(trusted)) {
        context_.metrics.ClientConnected();
    }
    ~HttpSession() { context_.metrics.ClientGone(); }

    void Start() {
        if constexpr (kTls) {
            Lowest().expires_after(std::chrono::seconds(30));
            stream_.async_handshake(
                boost::asio::ssl::stream_base::server,
                [self = this->shared_from_this()](boost::system::error_code ec) {
                    if (!ec) self->ReadHeader();
                });
        } else {
            ReadHeader();
        }
    }

  private:
    auto& Lowest() { return boost::beast::get_lowest_layer(stream_); }

    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(16 * 1024);
        // The route's limit is set once the header is known; until then the parser must not
        // refuse a Content-Length on its own (it would end the connection without an answer).
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        Lowest().expires_after(std::chrono::seconds(60));  // an idle connection ends
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                self->OnHeader(ec);
            });
    }

    void OnHeader(boost::system::error_code ec) {
        if (ec == http::error::header_limit) {
            SendFinal(ProblemResponse(http::status::request_header_fields_too_large,
                                      "the request's header is too large"));
            return;
        }
        if (ec) {
            Close();
            return;
        }
        auto& req = parser_->get();
        version_ = req.version();
        match_ = context_.router.Find(req.method(), PathOf(req.target()));
        limit_ = match_.route ? match_.route->bodyLimit : kBodyLimit;
        parser_->body_limit(limit_);
        if (parser_->content_length() && *parser_->content_length() > limit_) {
            SendFinal(TooLarge());
            return;
        }
        if (boost::beast::iequals(req[http::field::expect], "100-continue")) {
            auto cont = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                           version_);
            http::async_write(
                stream_, *cont,
                [self = this->shared_from_this(), cont](boost::system::error_code e, std::size_t) {
                    if (e)
                        self->Close();
                    else
                        self->ReadBody();
                });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](boost::system::error_code ec,
                                                           std::size_t) { self->OnRead(ec); });
    }

    void OnRead(boost::system::error_code ec) {
        if (ec == http::error::body_limit) {
            SendFinal(TooLarge());
            return;
        }
        if (ec) {
            Close();
            return;
        }
        Handle(parser_->release());
    }

    void Handle(Request request) {
        auto ex = std::make_shared<Exchange>();
        ex->request = std::move(request);
        ex->tls = kTls;
        ex->query = QueryOf(ex->request.target());
        keepAlive_ = ex->request.keep_alive();
        auto answered = std::make_shared<std::atomic<bool>>(false);
        auto self = this->shared_from_this();
        ex->reply = [self, answered](Response res) {
            if (answered->exchange(true)) return;
            boost::asio::post(self->stream_.get_executor(), [self, res = std::move(res)]() mutable {
                self->Send(std::move(res));
            });
        };
        ex->startEvents = [self, answered](std::optional<uint64_t> lastId) {
            if (answered->exchange(true)) return;
            boost::asio::post(self->stream_.get_executor(),
                              [self, lastId] { self->StartEvents(lastId); });
        };
        try {
            if (ex->query.count("access_token") || ex->query.count("token"))
                throw HttpProblem(http::status::bad_request,
                                  "tokens go in the Authorization header, never in the URL");
            if (match_.status == http::status::method_not_allowed) {
                Response res =
                    ProblemResponse(match_.status, "this path does not take " +
                                                       std::string(ex->request.method_string()));
                res.set(http::field::allow, match_.allow);
                ex->reply(std::move(res));
                return;
            }
            if (match_.status != http::status::unknown)
                throw HttpProblem(match_.status, "no such resource");
            if (!match_.route) {
                context_.router.Fallback()(ex);
                return;
            }
            ex->caller = trusted_ ? *trusted_ : context_.access.Identify(ex->request);
            context_.access.Require(ex->caller, match_.route->role);
            if (match_.route->changes) CheckOrigin(ex->request, kTls);
            ex->params = match_.params;
            match_.route->handler(ex);
        } catch (const HttpProblem& p) {
            ex->reply(ProblemResponse(p));
        } catch (const std::exception& e) {
            ex->reply(ProblemResponse(http::status::internal_server_error, e.what()));
        }
    }

    Response TooLarge() const {
        return ProblemResponse(http::status::payload_too_large,
                               "the body may be at most " + std::to_string(limit_) + " bytes");
    }

    void Send(Response res) {
        AddCommonHeaders(res);
        res.version(version_);
        res.keep_alive(keepAlive_);
        auto held = std::make_shared<Response>(std::move(res));
        http::async_write(
            stream_, *held,
            [self = this->shared_from_this(), held](boost::system::error_code ec, std::size_t) {
                if (ec)
                    self->Close();
                else if (!held->keep_alive())
                    self->Linger();
                else
                    self->ReadHeader();
            });
    }

    // An answer after which the connection ends (the rest of the request is not read).
    void SendFinal(Response res) {
        keepAlive_ = false;
        Send(std::move(res));
    }

    void StartEvents(std::optional<uint64_t> lastId) {
        auto stream = std::make_shared<EventStream<Stream>>(
            std::move(stream_), context_.events, context_.metrics, context_.clientBacklog);
        stream->Start(version_, lastId);
    }

    // After a final answer: what the client still sends is read and dropped for a moment, so
    // that closing with unread bytes does not reset the connection before it read the answer.
    void Linger() {
        if constexpr (!kTls) {
            boost::system::error_code ec;
            Lowest().socket().shutdown(boost::asio::socket_base::shutdown_send, ec);
        }
        Lowest().expires_after(std::chrono::seconds(2));
        scratch_.resize(16 * 1024);
        DrainSome();
    }

    void DrainSome() {
        Lowest().async_read_some(
            boost::asio::buffer(scratch_),
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t n) {
                self->drained_ += n;
                if (ec || self->drained_ > 8 * 1024 * 1024)
                    self->Close();
                else
                    self->DrainSome();
            });
    }

    void Close() {
        if constexpr (kTls) {
            Lowest().expires_after(std::chrono::seconds(5));
            stream_.async_shutdown([self = this->shared_from_this()](boost::system::error_code) {
                boost::system::error_code ec;
                self->Lowest().socket().close(ec);
            });
        } else {
            boost::system::error_code ec;
            Lowest().socket().shutdown(boost::asio::socket_base::shutdown_send, ec);
        }
    }

    Stream stream_;
    ServerContext& context_;
    const std::optional<Caller> trusted_;
    boost::beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Router::Match match_;
    std::size_t limit_ = kBodyLimit;
    std::vector<char> scratch_;
    std::size_t drained_ = 0;
    unsigned version_ = 11;
    bool keepAlive_ = true;
};

}  // namespace swb808::service
