#include "loader/port_list.h"

#include <gtest/gtest.h>

namespace vorin::loader {
namespace {

using vorin::platform::SerialPortInfo;

TEST(PortList, EveryKindOfPortOnItsLine) {
    SerialPortInfo chip;
    chip.comNumber = 1;
    chip.device = "/dev/ttyS0";
    SerialPortInfo mapped;
    mapped.comNumber = 12;
    mapped.device = "/tmp/printer";
    mapped.mappedBy = "VORIN_COM12";
    mapped.present = false;
    SerialPortInfo adapter;
    adapter.device = "/dev/ttyUSB0";
    adapter.usb = true;
    adapter.vendorId = 0x0403;
    adapter.productId = 0x6001;
    adapter.manufacturer = "FTDI";
    adapter.product = "FT232R USB UART";
    adapter.serialNumber = "A50285BI";
    adapter.numberSetting = "VORIN_COM2=/dev/ttyUSB0";
    SerialPortInfo windows;
    windows.comNumber = 3;
    windows.device = "\\\\.\\COM3";
    windows.usb = true;
    windows.vendorId = 0x067b;
    windows.productId = 0x2303;
    windows.description = "Prolific USB-to-Serial Comm Port (COM3)";

    EXPECT_EQ(FormatPortList({chip, mapped, adapter, windows}),
              "COM1   /dev/ttyS0\n"
              "COM12  /tmp/printer  (VORIN_COM12)  no such device\n"
              "-      /dev/ttyUSB0  USB 0403:6001 FTDI FT232R USB UART, serial A50285BI\n"
              "       no COM number yet; to give it one: VORIN_COM2=/dev/ttyUSB0\n"
              "COM3   \\\\.\\COM3  USB 067b:2303  Prolific USB-to-Serial Comm Port (COM3)\n");
    EXPECT_EQ(FormatPortList({}), "No serial ports found.\n");
}

}  // namespace
}  // namespace vorin::loader
