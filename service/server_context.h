#pragma once

// What every connection of the server shares.

#include <cstddef>

namespace swb808::service {

class Router;
class AccessPolicy;
class Metrics;
class EventHub;

struct ServerContext {
    Router& router;
    const AccessPolicy& access;
    Metrics& metrics;
    EventHub& events;
    bool tls = false;
    std::size_t clientBacklog = 512;
};

}  // namespace swb808::service
