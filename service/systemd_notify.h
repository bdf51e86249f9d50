#pragma once

// The service manager's notifications (Type=notify): ready, stopping, and the watchdog's
// keep-alive. Without a service manager they do nothing.

#include <chrono>
#include <optional>

namespace swb808::service {

void NotifyReady();
void NotifyStopping();
void NotifyWatchdog();
// The watchdog's period when the unit has WatchdogSec=; ping at half of it.
std::optional<std::chrono::microseconds> WatchdogPeriod();

}  // namespace swb808::service
