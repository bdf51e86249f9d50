#pragma once

// Which port a command talks to: a COM number of the window's table (SWB808_PORT_DIR
// included) and the device it maps to.

#include <string>
#include <vector>

namespace swb808::cli {

inline constexpr int kFirstCom = 1;
inline constexpr int kLastCom = 16;

struct PortTarget {
    int com = 0;
    std::string device;

    // "COM3 (/dev/ttyUSB0)", the form every message names a port in.
    std::string Name() const;
    bool operator==(const PortTarget&) const = default;
};

// The target for COM n.
PortTarget ComTarget(int com);

// All sixteen, COM1 first.
std::vector<PortTarget> AllComTargets();

// "COM3" (any case) or a device path (/dev/ttyUSB0, /dev/serial/by-id/..., a link in
// SWB808_PORT_DIR); a path is matched to the COM number whose device it is. Throws
// CliFailure: Usage for a malformed name, PortError for a path that is missing or not one of
// COM1-COM16.
PortTarget ParsePortTarget(const std::string& text);

}  // namespace swb808::cli
