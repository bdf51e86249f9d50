#pragma once

// The HTTP API under /api/v1, /healthz and /metrics: each route, the role it needs, how its
// body is checked and what it asks of the board.

#include <boost/asio/io_context.hpp>

#include "service/board_registry.h"
#include "service/metrics.h"
#include "service/router.h"

namespace swb808::service {

// `io` runs the timers of relay pulses (the service keeps the time, not the client).
void AddApiRoutes(Router& router, BoardRegistry& boards, Metrics& metrics,
                  boost::asio::io_context& io);

// The HTTP status of a board's error: 400 bad value, 409 busy or another board, 503 offline
// or overloaded, 504 no answer.
http::status StatusOf(BoardErrc code);

}  // namespace swb808::service
