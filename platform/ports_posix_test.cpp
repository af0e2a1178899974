// The Linux port list read from sysfs: a tree laid out like /sys/class/tty in
// a temporary folder (two USB adapters, a serial chip, a placeholder port of a
// driver that found no chip, a virtual terminal), and the real /sys/class/tty.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ports_posix.h"
#include "tests/support/temp_dir.h"

namespace vorin::platform {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

// /sys/devices/... and /sys/class/tty/<name> -> its device folder, as the
// kernel lays them out.
class FakeSysfs {
public:
    FakeSysfs() : root_(dir_.Path()) { fs::create_directories(root_ / "class" / "tty"); }
    std::string ClassTty() const { return (root_ / "class" / "tty").string(); }

    // A tty bound to a driver, below `devicePath` (relative to devices/).
    fs::path Tty(const std::string& name, const std::string& devicePath) {
        const fs::path device = root_ / "devices" / devicePath;
        fs::create_directories(device / "driver-target");
        fs::create_directory_symlink(device / "driver-target", device / "driver");
        const fs::path tty = device / "tty" / name;
        Write(tty / "uevent", "MAJOR=188\nMINOR=0\nDEVNAME=" + name);
        fs::create_directory_symlink(device, tty / "device");
        fs::create_directory_symlink(tty, root_ / "class" / "tty" / name);
        return tty;
    }
    void UsbDevice(const std::string& path, const std::string& vid, const std::string& pid,
                   const std::string& maker, const std::string& product,
                   const std::string& serial) {
        const fs::path at = root_ / "devices" / path;
        Write(at / "idVendor", vid);
        Write(at / "idProduct", pid);
        if (!maker.empty()) Write(at / "manufacturer", maker);
        Write(at / "product", product);
        if (!serial.empty()) Write(at / "serial", serial);
    }
    void Virtual(const std::string& name) {
        Write(root_ / "class" / "tty" / name / "uevent", "DEVNAME=" + name);
    }

private:
    vorin::test::TempDir dir_;
    fs::path root_;
};

const SerialPortInfo* Find(const std::vector<SerialPortInfo>& ports, const std::string& device) {
    for (const auto& port : ports)
        if (port.device == device) return &port;
    return nullptr;
}

TEST(PortsPosix, SysfsTreeGivesRealPortsWithUsbFactsAndNumberSettings) {
    FakeSysfs sys;
    sys.UsbDevice("usb1/1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
    sys.Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
    sys.UsbDevice("usb1/1-2", "2341", "0043", "", "Uno", "");
    sys.Tty("ttyACM0", "usb1/1-2/1-2:1.0");
    const fs::path chip = sys.Tty("ttyS7", "pnp0/00:05");
    Write(chip / "type", "4");
    const fs::path placeholder = sys.Tty("ttyS9", "platform/serial8250");
    Write(placeholder / "type", "0");
    sys.Virtual("tty3");

    const auto ports = ListSerialPortsIn(sys.ClassTty());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(Find(ports, "/dev/ttyS9"), nullptr);
    EXPECT_EQ(Find(ports, "/dev/tty3"), nullptr);

    const SerialPortInfo* chipPort = Find(ports, "/dev/ttyS7");
    ASSERT_NE(chipPort, nullptr);
    EXPECT_EQ(chipPort->comNumber, 8);
    EXPECT_FALSE(chipPort->usb);
    EXPECT_EQ(&ports[0], chipPort) << "numbered ports first";

    const SerialPortInfo* ftdi = Find(ports, "/dev/ttyUSB0");
    ASSERT_NE(ftdi, nullptr);
    EXPECT_TRUE(ftdi->usb);
    EXPECT_EQ(ftdi->vendorId, 0x0403);
    EXPECT_EQ(ftdi->productId, 0x6001);
    EXPECT_EQ(ftdi->manufacturer, "FTDI");
    EXPECT_EQ(ftdi->product, "FT232R USB UART");
    EXPECT_EQ(ftdi->serialNumber, "A50285BI");
    EXPECT_EQ(ftdi->comNumber, 0);

    const SerialPortInfo* acm = Find(ports, "/dev/ttyACM0");
    ASSERT_NE(acm, nullptr);
    EXPECT_EQ(acm->vendorId, 0x2341);
    EXPECT_TRUE(acm->serialNumber.empty());
    // Each adapter is offered its own number.
    ASSERT_FALSE(ftdi->numberSetting.empty());
    ASSERT_FALSE(acm->numberSetting.empty());
    EXPECT_NE(ftdi->numberSetting.substr(0, ftdi->numberSetting.find('=')),
              acm->numberSetting.substr(0, acm->numberSetting.find('=')));
    EXPECT_EQ(acm->numberSetting.substr(acm->numberSetting.find('=')), "=/dev/ttyACM0");

    // Mapped, the adapter is listed once, under its number, with its facts;
    // a mapping to nothing is listed as such; a network port is one (no
    // connect: listing never reaches out).
    setenv("VORIN_COM201", "/dev/ttyUSB0", 1);
    setenv("VORIN_COM202", "/nonexistent/vorin-port", 1);
    setenv("VORIN_COM203", "rfc2217://192.0.2.1:4001", 1);
    const auto mapped = ListSerialPortsIn(sys.ClassTty());
    unsetenv("VORIN_COM201");
    unsetenv("VORIN_COM202");
    unsetenv("VORIN_COM203");
    ASSERT_EQ(mapped.size(), 5u);
    const SerialPortInfo* network = Find(mapped, "rfc2217://192.0.2.1:4001");
    ASSERT_NE(network, nullptr);
    EXPECT_EQ(network->comNumber, 203);
    EXPECT_TRUE(network->present);
    EXPECT_EQ(network->description, "network port (RFC 2217)");
    const SerialPortInfo* com201 = Find(mapped, "/dev/ttyUSB0");
    ASSERT_NE(com201, nullptr);
    EXPECT_EQ(com201->comNumber, 201);
    EXPECT_EQ(com201->mappedBy, "VORIN_COM201");
    EXPECT_EQ(com201->serialNumber, "A50285BI");
    EXPECT_TRUE(com201->numberSetting.empty());
    const SerialPortInfo* missing = Find(mapped, "/nonexistent/vorin-port");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->comNumber, 202);
    EXPECT_FALSE(missing->present);
}

// This machine's own sysfs: every listed device that no mapping names is a
// character device that exists (the list may well be empty here).
TEST(PortsPosix, RealSysfsListsOnlyDevicesThatExist) {
    for (const auto& port : ListSerialPorts()) {
        if (!port.mappedBy.empty()) continue;
        struct stat st {};
        EXPECT_EQ(stat(port.device.c_str(), &st), 0) << port.device;
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << port.device;
    }
}

}  // namespace
}  // namespace vorin::platform
