#include "serial/port_description.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/com_ports.h"

namespace swb808 {

namespace fs = std::filesystem;

namespace {

// Device strings come from the adapter itself: keep one printable line of bounded length.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    std::string clean;
    for (const char c : line) {
        if (clean.size() >= 80) break;
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) clean += c;
    }
    while (!clean.empty() && clean.back() == ' ') clean.pop_back();
    while (!clean.empty() && clean.front() == ' ') clean.erase(0, 1);
    return clean;
}

// The tty's device is the USB interface (ttyACM) or a port below it (ttyUSB); the USB device
// itself, the nearest level with an idVendor, carries the product string. Looking further up
// would find the host controller's.
std::string AdapterName(const fs::path& ttyEntry) {
    std::error_code ec;
    const fs::path device = fs::canonical(ttyEntry / "device", ec);
    if (ec) return {};
    if (fs::exists(ttyEntry / "type", ec) && ReadAttribute(ttyEntry / "type") == "0")
        return "no UART found";
    fs::path below = device;
    for (fs::path dir = device; dir.has_relative_path(); below = dir, dir = dir.parent_path()) {
        if (device.parent_path().parent_path().parent_path() == dir) break;
        if (!fs::exists(dir / "idVendor", ec)) continue;
        for (const fs::path& file : {dir / "product", below / "interface", dir / "manufacturer"}) {
            if (std::string s = ReadAttribute(file); !s.empty()) return s;
        }
        return "USB " + ReadAttribute(dir / "idVendor") + ":" + ReadAttribute(dir / "idProduct");
    }
    if (const fs::path driver = fs::read_symlink(device / "driver", ec); !ec)
        return driver.filename().string();
    return {};
}

}  // namespace

std::string DescribeComPort(int n, const std::string& sysfsRoot) {
    const std::string path = ComDevicePath(n);
    if (path.empty()) return {};
    std::string text = "COM" + std::to_string(n) + ": " + path;

    std::error_code ec;
    fs::path device = path;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        device = fs::canonical(path, ec);
        if (ec) {
            // A dangling link still says where it points.
            const fs::path target = fs::read_symlink(path, ec);
            if (!ec) text += " -> " + target.string();
            return text + ", not present";
        }
        text += " -> " + device.string();
    }
    if (!fs::exists(device, ec)) return text + ", not present";

    if (device.parent_path() == "/dev/pts") return text + ", pseudo-terminal";
    const std::string name = AdapterName(fs::path(sysfsRoot) / "class/tty" / device.filename());
    return name.empty() ? text : text + ", " + name;
}

}  // namespace swb808
