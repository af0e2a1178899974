#include "platform/ports_posix.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/net_port.h"

namespace vorin::platform {

namespace {

namespace fs = std::filesystem;

constexpr int kLastCom = 255;

// The first line of a small sysfs file, without its line end; "" when unreadable.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

std::string MappingOf(int n) {
    const char* value = std::getenv(("VORIN_COM" + std::to_string(n)).c_str());
    return value != nullptr ? value : "";
}

bool IsCharacterDevice(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A USB adapter's tty sits a few levels below the USB device that carries
// idVendor (the interface, and for usb-serial the port, come between).
void ReadUsbFacts(const fs::path& ttyDevice, SerialPortInfo& port) {
    std::error_code ec;
    fs::path at = fs::canonical(ttyDevice, ec);
    for (int level = 0; !ec && level < 6 && at.has_relative_path();
         ++level, at = at.parent_path()) {
        const std::string vendor = ReadAttribute(at / "idVendor");
        if (vendor.empty()) continue;
        port.usb = true;
        port.vendorId = static_cast<std::uint16_t>(std::strtoul(vendor.c_str(), nullptr, 16));
        port.productId = static_cast<std::uint16_t>(
            std::strtoul(ReadAttribute(at / "idProduct").c_str(), nullptr, 16));
        port.manufacturer = ReadAttribute(at / "manufacturer");
        port.product = ReadAttribute(at / "product");
        port.serialNumber = ReadAttribute(at / "serial");
        return;
    }
}

// The tty's device node: the uevent's DEVNAME, else the tty's own name.
std::string DevicePath(const fs::path& tty) {
    std::ifstream uevent(tty / "uevent");
    for (std::string line; std::getline(uevent, line);) {
        if (line.rfind("DEVNAME=", 0) == 0) return "/dev/" + line.substr(8);
    }
    return "/dev/" + tty.filename().string();
}

// Ttys bound to a driver; a serial8250 placeholder (type 0: no chip at that
// address) is not a port.
std::vector<SerialPortInfo> RealDevices(const std::string& sysClassTty) {
    std::vector<SerialPortInfo> found;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysClassTty, ec)) {
        const fs::path tty = entry.path();
        std::error_code ignored;
        if (!fs::exists(tty / "device" / "driver", ignored)) continue;
        if (ReadAttribute(tty / "type") == "0") continue;
        SerialPortInfo port;
        port.device = DevicePath(tty);
        ReadUsbFacts(tty / "device", port);
        found.push_back(port);
    }
    return found;
}

// The number /dev/ttyS<k> has without any mapping: k + 1, unless
// VORIN_COM<k+1> sends that number elsewhere.
int DefaultNumber(const std::string& device) {
    const std::string prefix = "/dev/ttyS";
    if (device.rfind(prefix, 0) != 0 || device.size() == prefix.size()) return 0;
    const std::string digits = device.substr(prefix.size());
    if (digits.size() > 3 || !std::all_of(digits.begin(), digits.end(),
                                          [](unsigned char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const int n = std::atoi(digits.c_str()) + 1;
    return n <= kLastCom && MappingOf(n).empty() ? n : 0;
}

// Numbers for "VORIN_COM<n>=" settings: unset, without a /dev/ttyS<n-1> of
// their own, and not yet offered to another port (the rule --port uses).
int FreeNumber(std::set<int>& offered) {
    for (int n = 1; n <= kLastCom; ++n) {
        if (offered.count(n) || !MappingOf(n).empty()) continue;
        struct stat st {};
        if (stat(("/dev/ttyS" + std::to_string(n - 1)).c_str(), &st) == 0) continue;
        offered.insert(n);
        return n;
    }
    return 0;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsIn(const std::string& sysClassTty) {
    std::vector<SerialPortInfo> devices = RealDevices(sysClassTty);
    std::vector<bool> mapped(devices.size(), false);
    std::vector<SerialPortInfo> ports;

    for (int n = 1; n <= kLastCom; ++n) {
        const std::string value = MappingOf(n);
        if (value.empty()) continue;
        SerialPortInfo port;
        const std::string real = Canonical(value);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (Canonical(devices[i].device) == real) {
                port = devices[i];
                mapped[i] = true;
            }
        }
        port.comNumber = n;
        port.device = value;
        port.mappedBy = "VORIN_COM" + std::to_string(n);
        port.present = IsCharacterDevice(value);
        ports.push_back(port);
    }

    std::set<int> offered;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (mapped[i]) continue;
        SerialPortInfo port = devices[i];
        port.comNumber = DefaultNumber(port.device);
        if (port.comNumber == 0) {
            const int n = FreeNumber(offered);
            if (n != 0) port.numberSetting = "VORIN_COM" + std::to_string(n) + "=" + port.device;
        }
        ports.push_back(port);
    }

    AddNetworkPorts(ports);
    std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        if ((a.comNumber == 0) != (b.comNumber == 0)) return a.comNumber != 0;
        if (a.comNumber != b.comNumber) return a.comNumber < b.comNumber;
        return a.device < b.device;
    });
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() { return ListSerialPortsIn("/sys/class/tty"); }

}  // namespace vorin::platform
