// The COM port descriptions against a fake sysfs tree and a port directory of links.
#include "serial/port_description.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace swb808 {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

class PortDescriptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/swb808-portdesc-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        sys_ = root_ / "sys";
        ports_ = root_ / "ports";
        fs::create_directories(ports_);
        fs::create_directories(root_ / "dev");
        if (const char* old = getenv("SWB808_PORT_DIR")) {
            previous_ = old;
            hadPrevious_ = true;
        }
        setenv("SWB808_PORT_DIR", ports_.c_str(), 1);
    }
    void TearDown() override {
        if (hadPrevious_)
            setenv("SWB808_PORT_DIR", previous_.c_str(), 1);
        else
            unsetenv("SWB808_PORT_DIR");
        fs::remove_all(root_);
    }

    // A device node stand-in in the temp tree, linked as COM n.
    fs::path Device(const std::string& name, int n) {
        const fs::path dev = root_ / "dev" / name;
        WriteFile(dev, "");
        fs::create_symlink(dev, ports_ / ("com" + std::to_string(n)));
        return dev;
    }
    // class/tty/<name>/device -> devicePath, as the kernel links it.
    void TtyEntry(const std::string& name, const fs::path& devicePath) {
        fs::create_directories(sys_ / "devices" / devicePath);
        fs::create_directories(sys_ / "class/tty" / name);
        fs::create_directory_symlink(sys_ / "devices" / devicePath,
                                     sys_ / "class/tty" / name / "device");
    }
    fs::path Sys(const fs::path& rel) { return sys_ / "devices" / rel; }
    std::string Describe(int n) { return DescribeComPort(n, sys_.string()); }
    std::string Prefix(int n, const fs::path& dev) {
        return "COM" + std::to_string(n) + ": " + (ports_ / ("com" + std::to_string(n))).string() +
               " -> " + dev.string();
    }

    fs::path root_, sys_, ports_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Where the adapter's name comes from, for the layouts the kernel uses.
TEST_F(PortDescriptionTest, NamesTheAdapterFromTheUsbDevice) {
    const fs::path usb = "pci0000:00/usb1/1-1";
    struct Case {
        const char* what;
        std::string tty;
        fs::path device;  // the tty's device, relative to devices/
        std::string product, interface, manufacturer;
        std::string expected;
    } cases[] = {
        // ttyUSB: port below the interface below the USB device.
        {"usb-serial product", "ttyUSB0", usb / "1-1:1.0/ttyUSB0", "FT232R USB UART\n", "", "FTDI",
         "FT232R USB UART"},
        // ttyACM: the tty's device is the interface itself.
        {"acm product", "ttyACM0", usb / "1-1:1.0", "SWB808 Adapter", "CDC", "", "SWB808 Adapter"},
        {"interface without product", "ttyUSB1", usb / "1-1:1.0/ttyUSB1", "",
         "CP2102 USB to UART Bridge Controller", "Silicon Labs",
         "CP2102 USB to UART Bridge Controller"},
        {"manufacturer only", "ttyUSB2", usb / "1-1:1.0/ttyUSB2", "", "", "Prolific", "Prolific"},
        {"control bytes and padding dropped", "ttyUSB3", usb / "1-1:1.0/ttyUSB3",
         "  Bad\x1b[2J Name  \nsecond line", "", "", "Bad[2J Name"},
        {"no strings at all", "ttyUSB4", usb / "1-1:1.0/ttyUSB4", "", "", "", "USB 0403:6001"},
    };
    int n = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(sys_);
        TtyEntry(c.tty, c.device);
        WriteFile(Sys(usb / "idVendor"), "0403\n");
        WriteFile(Sys(usb / "idProduct"), "6001\n");
        // The host controller above must never be taken for the adapter.
        WriteFile(Sys("pci0000:00/usb1/idVendor"), "1d6b\n");
        WriteFile(Sys("pci0000:00/usb1/product"), "xHCI Host Controller\n");
        if (!c.product.empty()) WriteFile(Sys(usb / "product"), c.product);
        if (!c.interface.empty()) WriteFile(Sys(usb / "1-1:1.0/interface"), c.interface);
        if (!c.manufacturer.empty()) WriteFile(Sys(usb / "manufacturer"), c.manufacturer);
        const fs::path dev = Device(c.tty, n);
        EXPECT_EQ(Describe(n), Prefix(n, dev) + ", " + c.expected);
        ++n;
    }
}

TEST_F(PortDescriptionTest, SerialPortsNameTheirDriverOrTheMissingUart) {
    TtyEntry("ttyS0", "pnp0/00:05");
    WriteFile(sys_ / "class/tty/ttyS0/type", "4\n");
    fs::create_directories(Sys("../bus/pnp/drivers/serial"));
    fs::create_directory_symlink(Sys("../bus/pnp/drivers/serial"), Sys("pnp0/00:05/driver"));
    TtyEntry("ttyS1", "platform/serial8250");
    WriteFile(sys_ / "class/tty/ttyS1/type", "0\n");
    const fs::path s0 = Device("ttyS0", 1);
    const fs::path s1 = Device("ttyS1", 2);
    const fs::path bare = Device("ttyX9", 3);  // no sysfs entry: the path alone
    EXPECT_EQ(Describe(1), Prefix(1, s0) + ", serial");
    EXPECT_EQ(Describe(2), Prefix(2, s1) + ", no UART found");
    EXPECT_EQ(Describe(3), Prefix(3, bare));
}

TEST_F(PortDescriptionTest, MissingDevicesAndNumbersOutsideTheTable) {
    const fs::path gone = root_ / "dev/ttyUSB7";
    fs::create_symlink(gone, ports_ / "com4");
    EXPECT_EQ(Describe(4), Prefix(4, gone) + ", not present");  // dangling link
    EXPECT_EQ(Describe(5), "COM5: " + (ports_ / "com5").string() + ", not present");
    EXPECT_EQ(Describe(0), "");
    EXPECT_EQ(Describe(-1), "");
}

TEST_F(PortDescriptionTest, PlainFileAndPseudoTerminal) {
    WriteFile(ports_ / "com6", "");
    EXPECT_EQ(Describe(6), "COM6: " + (ports_ / "com6").string());
    if (fs::exists("/dev/ptmx")) {
        std::error_code ec;
        fs::create_symlink("/dev/ptmx", ports_ / "com7", ec);
        // ptmx resolves to /dev/pts/ptmx on some systems, /dev/ptmx on others.
        const std::string d = Describe(7);
        EXPECT_EQ(d.rfind(Prefix(7, fs::canonical("/dev/ptmx")), 0), 0u) << d;
    }
}

TEST(PortDescriptionDefaultTable, UsesTheDefaultDeviceNames) {
    if (getenv("SWB808_PORT_DIR")) {
        GTEST_SKIP() << "SWB808_PORT_DIR is set";
    }
    const std::string d = DescribeComPort(12, "/nonexistent-sysfs");
    EXPECT_EQ(d.rfind("COM12: /dev/ttyUSB7", 0), 0u) << d;
    if (!fs::exists("/dev/ttyUSB7")) {
        EXPECT_EQ(d, "COM12: /dev/ttyUSB7, not present");
    }
}

}  // namespace
}  // namespace swb808
