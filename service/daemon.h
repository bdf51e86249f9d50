#pragma once

// swb808d running: the boards, the HTTP server, the service manager's notifications, and the
// orderly end on SIGTERM or SIGINT (the command on each wire, a flash's blocks included, is
// finished first).

#include "service/config.h"

namespace swb808::service {

// Returns the exit status: 0 after a signal, 1 when it could not start.
int RunDaemon(const ServiceConfig& config);

}  // namespace swb808::service
