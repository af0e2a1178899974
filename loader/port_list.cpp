#include "loader/port_list.h"

#include <cstdio>

namespace vorin::loader {

namespace {

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xffffu);
    return text;
}

// "USB 0403:6001 FTDI FT232R USB UART, serial A50285BI": what the adapter
// says about itself, leaving out what it does not say.
std::string UsbFacts(const vorin::platform::SerialPortInfo& port) {
    std::string text = "USB " + Hex4(port.vendorId) + ":" + Hex4(port.productId);
    if (!port.manufacturer.empty()) text += " " + port.manufacturer;
    if (!port.product.empty()) text += " " + port.product;
    if (!port.serialNumber.empty()) text += ", serial " + port.serialNumber;
    return text;
}

std::string PortLine(const vorin::platform::SerialPortInfo& port) {
    std::string name = port.comNumber > 0 ? "COM" + std::to_string(port.comNumber) : "-";
    name.resize(7, ' ');
    std::string line = name + port.device;
    if (!port.mappedBy.empty()) line += "  (" + port.mappedBy + ")";
    if (!port.present) line += "  no such device";
    if (port.usb) line += "  " + UsbFacts(port);
    if (!port.description.empty()) line += "  " + port.description;
    line += "\n";
    if (port.comNumber == 0 && !port.numberSetting.empty())
        line += "       no COM number yet; to give it one: " + port.numberSetting + "\n";
    return line;
}

}  // namespace

std::string FormatPortList(const std::vector<vorin::platform::SerialPortInfo>& ports) {
    if (ports.empty()) return "No serial ports found.\n";
    std::string text;
    for (const auto& port : ports) text += PortLine(port);
    return text;
}

}  // namespace vorin::loader
