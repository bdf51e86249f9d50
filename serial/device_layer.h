#pragma once

// The platform's device layer, chosen at build time: the one place that knows how devices
// are opened and driven.

#include <cstdint>
#include <memory>
#include <string>

namespace swb808 {

class TBaseDispatcher;
class TSerialPort;

// A dispatcher with the platform's device layer, owned by `port` (nullptr for probing).
std::unique_ptr<TBaseDispatcher> CreateDeviceDispatcher(TSerialPort* port);

// Opens and closes the device once, as an open would: 0 when free, else the open's code.
int32_t ProbeDevice(const std::string& path);

}  // namespace swb808
