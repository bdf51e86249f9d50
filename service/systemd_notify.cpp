#include "service/systemd_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace swb808::service {

void NotifyReady() {
    sd_notify(0, "READY=1");
}
void NotifyStopping() {
    sd_notify(0, "STOPPING=1");
}
void NotifyWatchdog() {
    sd_notify(0, "WATCHDOG=1");
}

std::optional<std::chrono::microseconds> WatchdogPeriod() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return std::nullopt;
    return std::chrono::microseconds(usec);
}

}  // namespace swb808::service
