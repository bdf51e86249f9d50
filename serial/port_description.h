#pragma once

// A one-line description of the device behind a COM number, for technicians who ask which
// adapter a COM number is.

#include <string>

namespace swb808 {

// "COM5: /dev/ttyUSB0, FT232R USB UART", "COM5: /dev/ttyUSB0, not present", or with a port
// directory "COM3: /tmp/ports/com3 -> /dev/ttyUSB1, ...". The adapter's name comes from the
// USB product, interface or manufacturer strings (or the driver) under `sysfsRoot`.
// "" for a number outside COM1-COM16's table.
std::string DescribeComPort(int n, const std::string& sysfsRoot = "/sys");

}  // namespace swb808
