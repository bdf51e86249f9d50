#pragma once

// A port a session may open: COM n of the program's table, or a device named by its path
// (/dev/ttyUSB0, /dev/serial/by-id/...). Texts name it "COMn" or by the path.

#include <cstdint>
#include <string>
#include <vector>

namespace swb808 {

struct PortRef {
    int32_t com = 0;     // 1..16, or 0 when `device` names the port
    std::string device;  // used instead of the COM table when not empty

    static PortRef Com(int32_t n) { return PortRef{n, {}}; }
    static PortRef Device(std::string path) { return PortRef{0, std::move(path)}; }

    bool IsSet() const { return com != 0 || !device.empty(); }
    // "COM5", or the device path.
    std::string Name() const;
    // The device file that is opened.
    std::string DevicePath() const;

    friend bool operator==(const PortRef&, const PortRef&) = default;
};

// COM1 .. COM16, in search order.
std::vector<PortRef> AllComPorts();

}  // namespace swb808
