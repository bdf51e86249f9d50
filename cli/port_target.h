#pragma once

// Which port a command talks to: a COM number of the window's table (SWB808_PORT_DIR
// included), or a device outside the table named by its path.

#include <string>
#include <vector>

#include "connection/port_ref.h"

namespace swb808::cli {

inline constexpr int kFirstCom = 1;
inline constexpr int kLastCom = 16;

// A port reference as the tool names it. COM n is held by its number alone (the device is
// looked up in the table), a device outside the table by its path.
struct PortTarget : PortRef {
    // "COM3 (/dev/ttyUSB0)", the form every message names a port in; a device outside the
    // table by its path alone.
    std::string Name() const;
    const PortRef& Ref() const { return *this; }
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
