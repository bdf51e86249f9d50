#pragma once

// Which port a command talks to: a COM number of the window's table (SWB808_PORT_DIR
// included) and the device it maps to, or a device outside the table named by its path.

#include <string>
#include <vector>

#include "connection/port_ref.h"

namespace swb808::cli {

inline constexpr int kFirstCom = 1;
inline constexpr int kLastCom = 16;

struct PortTarget {
    int com = 0;  // 0: `device` is outside the COM table
    std::string device;

    bool IsSet() const { return !device.empty(); }
    // "COM3 (/dev/ttyUSB0)", the form every message names a port in; a device outside the
    // table by its path alone.
    std::string Name() const;
    PortRef Ref() const { return com > 0 ? PortRef::Com(com) : PortRef::Device(device); }
    bool operator==(const PortTarget&) const = default;
};

// The target a session opened.
PortTarget TargetOf(const PortRef& ref);

// The target for COM n.
PortTarget ComTarget(int com);

// All sixteen, COM1 first.
std::vector<PortTarget> AllComTargets();

// "COM3" (any case) or a device path (/dev/ttyUSB0, /dev/serial/by-id/..., a link in
// SWB808_PORT_DIR); a path is matched to the COM number whose device it is, and one that is
// none of COM1-COM16 is used as it stands. Throws CliFailure: Usage for a malformed name,
// PortError for a path that does not exist.
PortTarget ParsePortTarget(const std::string& text);

}  // namespace swb808::cli
