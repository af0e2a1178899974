// Windows: the ports from the system's device list (the Ports class, the one
// Device Manager shows under "Ports (COM & LPT)"). Wine keeps no such list, so
// when it is empty the COM names that open as serial lines are the ports.
#include <windows.h>
// The GUIDs and property keys are defined here, not taken from a library.
#include <initguid.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/net_port.h"
#include "platform/ports.h"

namespace vorin::platform {

namespace {

constexpr int kLastCom = 255;

// "COM12" -> 12; 0 for anything else (LPT ports share the class).
int ComNumberOf(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= kLastCom ? n : 0;
}

std::string RegistryProperty(HDEVINFO devices, SP_DEVINFO_DATA& info, DWORD property) {
    char buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &info, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                           nullptr)) {
        return {};
    }
    return buffer;  // a multi-string's first entry
}

// The product name the USB device reports about itself (Windows 7 and later).
std::string BusReportedName(HDEVINFO devices, SP_DEVINFO_DATA& info) {
    wchar_t buffer[256] = {};
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(devices, &info, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
                                   reinterpret_cast<BYTE*>(buffer), sizeof buffer - sizeof(wchar_t),
                                   nullptr, 0) ||
        type != DEVPROP_TYPE_STRING) {
        return {};
    }
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, buffer, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

std::string InstanceId(DEVINST instance) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    return CM_Get_Device_IDA(instance, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? id : "";
}

// Hexadecimal digits after `key` ("VID_" / "PID_") in a device id.
std::uint16_t IdField(const std::string& id, const char* key) {
    const std::size_t at = id.find(key);
    return at == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::strtoul(id.c_str() + at + 4, nullptr, 16));
}

// A USB device's id is USB\VID_xxxx&PID_xxxx\<serial>; Windows makes up an id
// with '&' in it for a device without a serial number. Adapters whose driver
// stacks a bus of its own (FTDI) have the USB device as their parent.
void ReadUsbFacts(SP_DEVINFO_DATA& info, SerialPortInfo& port) {
    std::string id = InstanceId(info.DevInst);
    DEVINST parent = 0;
    if (id.rfind("USB\\", 0) != 0 && CM_Get_Parent(&parent, info.DevInst, 0) == CR_SUCCESS)
        id = InstanceId(parent);
    std::string upper = id;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    if (upper.rfind("USB\\", 0) != 0 || upper.find("VID_") == std::string::npos) return;
    port.usb = true;
    port.vendorId = IdField(upper, "VID_");
    port.productId = IdField(upper, "PID_");
    const std::size_t last = id.rfind('\\');
    const std::string serial = id.substr(last + 1);
    if (last > 4 && serial.find('&') == std::string::npos) port.serialNumber = serial;
}

std::vector<SerialPortInfo> FromDeviceList() {
    std::vector<SerialPortInfo> ports;
    HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &info); ++i) {
        HKEY key = SetupDiOpenDevRegKey(devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        char name[32] = {};
        DWORD size = sizeof name - 1;
        const LONG read = RegQueryValueExA(key, "PortName", nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
        const int n = read == ERROR_SUCCESS ? ComNumberOf(name) : 0;
        if (n == 0) continue;
        SerialPortInfo port;
        port.comNumber = n;
        port.device = "\\\\.\\COM" + std::to_string(n);
        port.description = RegistryProperty(devices, info, SPDRP_FRIENDLYNAME);
        ReadUsbFacts(info, port);
        if (port.usb) {
            port.manufacturer = RegistryProperty(devices, info, SPDRP_MFG);
            port.product = BusReportedName(devices, info);
        }
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

// A port held by another program exists as well; only "no such port" means none.
std::vector<SerialPortInfo> FromNamesThatOpen() {
    std::vector<SerialPortInfo> ports;
    for (int n = 1; n <= kLastCom; ++n) {
        const std::string device = "\\\\.\\COM" + std::to_string(n);
        HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        const DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE) {
            // Wine opens a COM name whose mapping leads nowhere, or to a file
            // that is no serial line; only a serial line has a device state.
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            const bool serial = GetCommState(h, &dcb) != 0;
            CloseHandle(h);
            if (!serial) continue;
        } else if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            continue;
        }
        SerialPortInfo port;
        port.comNumber = n;
        port.device = device;
        if (error != 0) port.description = "in use by another program";
        ports.push_back(port);
    }
    return ports;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports = FromDeviceList();
    if (ports.empty()) ports = FromNamesThatOpen();
    AddNetworkPorts(ports);
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.comNumber < b.comNumber; });
    return ports;
}

}  // namespace vorin::platform
