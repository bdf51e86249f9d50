#include "cli/port_target.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/exit_status.h"
#include "serial/com_ports.h"

namespace swb808::cli {

namespace {

// The device a path finally names, or "" when it does not exist.
std::string CanonicalDevice(const std::string& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::canonical(path, ec);
    return ec ? std::string() : canonical.string();
}

bool ParseComName(const std::string& text, int* com) {
    if (text.size() < 4 || text.size() > 5) return false;
    std::string prefix = text.substr(0, 3);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    if (prefix != "COM") return false;
    const std::string digits = text.substr(3);
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    *com = std::stoi(digits);
    return true;
}

}  // namespace

std::string PortTarget::Name() const {
    if (com <= 0) return device;
    return PortRef::Name() + " (" + DevicePath() + ")";
}

PortTarget TargetOf(const PortRef& ref) {
    return ref.com > 0 ? ComTarget(ref.com) : PortTarget{PortRef::Device(ref.device)};
}

PortTarget ComTarget(int com) {
    return PortTarget{PortRef::Com(com)};
}

std::vector<PortTarget> AllComTargets() {
    std::vector<PortTarget> all;
    for (int n = kFirstCom; n <= kLastCom; ++n) all.push_back(ComTarget(n));
    return all;
}

PortTarget ParsePortTarget(const std::string& text) {
    int com = 0;
    if (ParseComName(text, &com)) {
        if (com < kFirstCom || com > kLastCom)
            throw CliFailure(ExitStatus::Usage, "--port " + text + ": COM1 to COM16 only");
        return ComTarget(com);
    }
    if (text.find('/') == std::string::npos)
        throw CliFailure(ExitStatus::Usage,
                         "--port " + text + ": give COM1..COM16 or a device path");
    const std::string wanted = CanonicalDevice(text);
    if (wanted.empty()) throw CliFailure(ExitStatus::PortError, text + " does not exist");
    for (int n = kFirstCom; n <= kLastCom; ++n) {
        const std::string device = ComDevicePath(n);
        if (device == text || CanonicalDevice(device) == wanted) return ComTarget(n);
    }
    // Kept as given: a /dev/serial/by-id name stays right when the adapter moves.
    return PortTarget{PortRef::Device(text)};
}

}  // namespace swb808::cli
