#include "serial/notification_target.h"

#include <cstdio>
#include <utility>

namespace swb808 {

namespace {
THandlerErrorReporter& reporter() {
    thread_local THandlerErrorReporter r;  // each logic thread reports to its own front end
    return r;
}
}  // namespace

THandlerErrorReporter SetHandlerErrorReporter(THandlerErrorReporter r) {
    return std::exchange(reporter(), std::move(r));
}

void ReportHandlerError(const std::string& message) {
    if (auto& r = reporter()) {
        r(message);
        return;
    }
    std::fprintf(stderr, "swb808: exception in a port event handler: %s\n", message.c_str());
}

}  // namespace swb808
