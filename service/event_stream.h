#pragma once

// One Server-Sent Events client: "id: <seq>" and the event as JSON, the events after its
// Last-Event-ID first, a ": ping" every 15 s. A client that does not keep up is not waited
// for: once its backlog is full it gets one last event saying it was dropped, and the
// connection ends.

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "service/event_hub.h"
#include "service/log.h"
#include "service/metrics.h"
#include "service/responses.h"

namespace swb808::service {

inline constexpr std::chrono::seconds kPingPeriod{15};
// The kernel's share of a stream's backlog: small, so that a stalled client is noticed by
// the backlog bound rather than hidden in megabytes of socket buffer.
inline constexpr int kEventSendBuffer = 32 * 1024;

std::string EventText(const HubEvent& event);
std::string NoticeText(const std::string& type, const std::string& detail);

template <class Stream>
class EventStream : public std::enable_shared_from_this<EventStream<Stream>> {
  public:
    EventStream(Stream&& stream, EventHub& hub, Metrics& metrics, std::size_t backlog)
        : stream_(std::move(stream)),
          timer_(stream_.get_executor()),
          hub_(hub),
          metrics_(metrics),
          limit_(backlog) {}

    ~EventStream() { metrics_.EventClientGone(); }

    void Start(unsigned version, std::optional<uint64_t> lastEventId) {
        metrics_.EventClientConnected();
        auto& socket = boost::beast::get_lowest_layer(stream_).socket();
        boost::system::error_code ec;
        socket.set_option(boost::asio::socket_base::send_buffer_size(kEventSendBuffer), ec);
        boost::beast::get_lowest_layer(stream_).expires_never();

        http::response<http::empty_body> head{http::status::ok, version};
        head.set(http::field::content_type, "text/event-stream");
        AddCommonHeaders(head);
        head.keep_alive(false);
        std::ostringstream text;
        text << head.base();
        backlog_.push_back(text.str() + "retry: 2000\n\n");

        std::weak_ptr<EventStream> weak = this->shared_from_this();
        auto executor = stream_.get_executor();
        EventHub::Replay replay;
        subscription_ = hub_.Subscribe(
            [weak, executor](const HubEventPtr& e) {
                boost::asio::post(executor, [weak, e] {
                    if (auto self = weak.lock()) self->Enqueue(EventText(*e));
                });
            },
            lastEventId, &replay);
        if (replay.gap)
            backlog_.push_back(NoticeText("resync",
                                          "events since the given id are gone: "
                                          "read the boards' state again"));
        for (const auto& e : replay.events) backlog_.push_back(EventText(*e));
        Ping();
        WatchForClose();
        Pump();
    }

  private:
    void Enqueue(std::string text) {
        if (dropped_ || closed_) return;
        if (backlog_.size() >= limit_) {
            Drop();
            return;
        }
        backlog_.push_back(std::move(text));
        Pump();
    }

    void Drop() {
        dropped_ = true;
        subscription_.Reset();
        backlog_.clear();
        backlog_.push_back(NoticeText("dropped",
                                      "this client did not keep up with the events; "
                                      "reconnect with Last-Event-ID"));
        LogWarning("an event client did not keep up and was dropped");
        Pump();
    }

    void Ping() {
        timer_.expires_after(kPingPeriod);
        timer_.async_wait([weak = this->weak_from_this()](boost::system::error_code ec) {
            auto self = weak.lock();
            if (ec || !self || self->closed_) return;
            self->Enqueue(": ping\n\n");
            self->Ping();
        });
    }

    // The client sends nothing more; a read that ends means it has gone. The pending read
    // is also what keeps this stream alive between events.
    void WatchForClose() {
        // On the socket itself, so that the writes' timeouts do not cut this read short.
        boost::beast::get_lowest_layer(stream_).socket().async_read_some(
            boost::asio::buffer(sink_),
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                if (ec)
                    self->Close();
                else
                    self->WatchForClose();
            });
    }

    void Pump() {
        if (writing_ || closed_ || backlog_.empty()) return;
        writing_ = true;
        // Everything queued goes in one write: the backlog only grows while the client's
        // connection is not taking what was sent.
        current_.clear();
        for (auto& text : backlog_) current_ += text;
        backlog_.clear();
        // A write that cannot finish in this time means the client is gone.
        boost::beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(30));
        boost::asio::async_write(
            stream_, boost::asio::buffer(current_),
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                self->writing_ = false;
                if (ec || (self->dropped_ && self->backlog_.empty())) {
                    self->Close();
                    return;
                }
                self->Pump();
            });
    }

    void Close() {
        if (closed_) return;
        closed_ = true;
        subscription_.Reset();
        timer_.cancel();
        boost::system::error_code ec;
        auto& socket = boost::beast::get_lowest_layer(stream_).socket();
        socket.shutdown(boost::asio::socket_base::shutdown_both, ec);
        socket.close(ec);
    }

    Stream stream_;
    boost::asio::steady_timer timer_;
    EventHub& hub_;
    Metrics& metrics_;
    const std::size_t limit_;
    EventHub::Subscription subscription_;
    std::deque<std::string> backlog_;
    std::string current_;
    std::array<char, 512> sink_{};
    bool writing_ = false;
    bool dropped_ = false;
    bool closed_ = false;
};

}  // namespace swb808::service
