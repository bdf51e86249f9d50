#include "serial/com_ports.h"

#include <cstdlib>

#include "serial/device_layer.h"
#include "serial/serial_errors.h"

namespace swb808 {

std::string ComDevicePath(int n) {
    if (n < 1) return {};
    if (const char* dir = std::getenv("SWB808_PORT_DIR"); dir != nullptr && *dir != 0)
        return std::string(dir) + "/com" + std::to_string(n);
    if (n <= 4) return "/dev/ttyS" + std::to_string(n - 1);
    if (n <= 12) return "/dev/ttyUSB" + std::to_string(n - 5);
    if (n <= 16) return "/dev/ttyACM" + std::to_string(n - 13);
    return {};
}

bool PortAvailable(int n) {
    if (n <= 0) return false;
    return DeviceAvailable(ComDevicePath(n));
}

bool DeviceAvailable(const std::string& path) {
    if (path.empty()) return false;
    const int32_t r = ProbeDevice(path);
    // Present, whether free, held elsewhere, or closed to us by permissions.
    return r == 0 || r == ecAlreadyOpen || r == ecAccessDenied;
}

}  // namespace swb808
