// The port list on this computer. Natively a test line is a pseudo-terminal
// mapped through VORIN_COM<n>, and sysfs holds whatever serial hardware the
// machine has (perhaps none); under Wine a test line is a COM port mapped in
// Wine's registry, found by opening the COM names.
#include "platform/ports.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/test_line.h"

namespace vorin::platform {
namespace {

const SerialPortInfo* Find(const std::vector<SerialPortInfo>& ports, int comNumber) {
    for (const auto& port : ports)
        if (port.comNumber == comNumber) return &port;
    return nullptr;
}

TEST(Ports, TestLineIsListedUnderItsNumber) {
    std::string why;
    auto line = TestLine::Create(why);
    if (!line) GTEST_SKIP() << "no test line: " << why;
    const auto ports = ListSerialPorts();
    const SerialPortInfo* port = Find(ports, line->Port());
    ASSERT_NE(port, nullptr) << "COM" << int(line->Port()) << " is not listed";
    EXPECT_TRUE(port->present);
    EXPECT_FALSE(port->device.empty());
    EXPECT_FALSE(port->usb);
}

// Whatever the machine holds: numbers are unique and in order, and a port
// without a number is offered one that no listed port uses.
TEST(Ports, NumbersAreUniqueAndOffersAreFree) {
    const auto ports = ListSerialPorts();
    std::set<int> numbers;
    int last = 0;
    bool unnumberedSeen = false;
    for (const auto& port : ports) {
        if (port.comNumber == 0) {
            unnumberedSeen = true;
            continue;
        }
        EXPECT_FALSE(unnumberedSeen) << "numbered ports come first";
        EXPECT_GE(port.comNumber, last);
        EXPECT_TRUE(numbers.insert(port.comNumber).second) << "COM" << port.comNumber << " twice";
        last = port.comNumber;
    }
    std::set<std::string> offered;
    for (const auto& port : ports) {
        if (port.comNumber != 0 || port.numberSetting.empty()) continue;
        const std::string setting = port.numberSetting;
        ASSERT_EQ(setting.rfind("VORIN_COM", 0), 0u) << setting;
        const int n = std::stoi(setting.substr(9));
        EXPECT_EQ(numbers.count(n), 0u) << setting;
        EXPECT_EQ(setting.substr(setting.find('=') + 1), port.device);
        EXPECT_TRUE(offered.insert(setting.substr(0, setting.find('='))).second) << setting;
    }
}

}  // namespace
}  // namespace vorin::platform
