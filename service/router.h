#pragma once

// Which handler answers a request: method and path patterns ("/api/v1/boards/{}/relays/{}"),
// each with the role it needs and the largest body it takes.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/access.h"
#include "service/http_types.h"

namespace swb808::service {

// One request being answered. `Reply` may be called from any thread, once.
struct Exchange {
    Request request;
    Caller caller;
    bool tls = false;
    std::vector<std::string> params;           // the {} parts of the path, in order
    std::map<std::string, std::string> query;  // ?a=1&b=2, percent-decoded
    std::function<void(Response)> reply;
    // Turns the connection into an event stream (replaying after the given number).
    std::function<void(std::optional<uint64_t> lastEventId)> startEvents;

    std::string Query(const std::string& key) const {
        const auto it = query.find(key);
        return it == query.end() ? std::string() : it->second;
    }
};
using ExchangePtr = std::shared_ptr<Exchange>;
using Handler = std::function<void(const ExchangePtr&)>;

struct Route {
    http::verb method;
    std::vector<std::string> segments;  // "{}" matches one segment
    Role role;
    std::size_t bodyLimit;
    Handler handler;
    bool changes;  // a write: the Origin is checked
};

class Router {
  public:
    void Add(http::verb method, std::string_view pattern, Role role, Handler handler,
             std::size_t bodyLimit = kBodyLimit);
    // Requests for paths no route has (the page's files) go here, with Role::None.
    void SetFallback(Handler handler) { fallback_ = std::move(handler); }

    struct Match {
        const Route* route = nullptr;  // null: the fallback, or `status` when that is not 0
        std::vector<std::string> params;
        http::status status = http::status::unknown;  // 404 or 405
        std::string allow;                            // for 405
    };
    Match Find(http::verb method, std::string_view path) const;
    const Handler& Fallback() const { return fallback_; }

  private:
    std::vector<Route> routes_;
    Handler fallback_;
};

// "/a/b?x=1" split into the path and its decoded query.
std::string_view PathOf(std::string_view target);
std::map<std::string, std::string> QueryOf(std::string_view target);

}  // namespace swb808::service
