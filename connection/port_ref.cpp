#include "connection/port_ref.h"

#include "protocol/board_facts.h"
#include "serial/com_ports.h"

namespace swb808 {

std::string PortRef::Name() const {
    return device.empty() ? "COM" + std::to_string(com) : device;
}

std::string PortRef::DevicePath() const {
    return device.empty() ? ComDevicePath(com) : device;
}

std::vector<PortRef> AllComPorts() {
    std::vector<PortRef> ports;
    for (int32_t n = 1; n <= board::kComPortCount; ++n) ports.push_back(PortRef::Com(n));
    return ports;
}

}  // namespace swb808
