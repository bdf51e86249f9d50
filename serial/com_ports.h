#pragma once

// COM port numbers and the devices they name.

#include <string>

namespace swb808 {

// COM n is $SWB808_PORT_DIR/comN when SWB808_PORT_DIR is set (only that directory is looked
// at), else COM1-4 = /dev/ttyS0-3, COM5-12 = /dev/ttyUSB0-7, COM13-16 = /dev/ttyACM0-3.
// "" for a number outside the table.
std::string ComDevicePath(int n);

// Whether COM port n exists, free or held by someone (including our own open port).
// n = 0: false without touching any device. A device that exists but may not be opened for
// lack of permission also counts as available; opening it then raises EInOutError 5.
bool PortAvailable(int n);
// The same for a device named by its path.
bool DeviceAvailable(const std::string& path);

}  // namespace swb808
