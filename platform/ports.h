// The serial ports this computer has, as the operator must choose among them:
// the COM number under which this program opens each one, its device, and for
// a USB adapter what the adapter says about itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorin::platform {

struct SerialPortInfo {
    int comNumber = 0;        // 1 to 255; 0 when this program has no number for it yet
    std::string device;       // POSIX: the device path; Windows: \\.\COMn
    std::string mappedBy;     // POSIX: "VORIN_COM<n>" when that variable gives the number
    bool present = true;      // false: a mapping names a device that is not there
    std::string description;  // the system's name for the port, where it has one
    bool usb = false;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // POSIX, when comNumber is 0: the "VORIN_COM<n>=<device>" setting that
    // would give the port a number (a number no other port uses).
    std::string numberSetting;
};

// Every port, those with a COM number first in number order.
// POSIX: the real devices of /sys/class/tty (a tty with a driver; the
// placeholder ttyS ports of a serial driver that found no chip are left out)
// and every VORIN_COM<n> mapping. Windows: the system's device list of ports;
// when it holds none (Wine keeps none), the COM names 1 to 255 that open.
std::vector<SerialPortInfo> ListSerialPorts();

}  // namespace vorin::platform
