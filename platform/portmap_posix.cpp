#include "platform/portmap.h"
#include "platform/net_port.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace vorin::platform {

bool ComNumberForDevice(const std::string& device, int* number, std::string* error) {
    if (LooksLikeNetworkPortUrl(device)) return ComNumberForNetworkUrl(device, number, error);
    if (device.empty() || device.find('\0') != std::string::npos) {
        if (error) *error = "empty device path";
        return false;
    }
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) {
        if (error) *error = device + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        if (error) *error = device + ": not a character device (serial port or terminal)";
        return false;
    }
    // Already mapped, by the user or an earlier call: keep that number.
    for (int n = 1; n <= 255; ++n) {
        const std::string name = "VORIN_COM" + std::to_string(n);
        const char* value = std::getenv(name.c_str());
        if (value != nullptr && device == value) {
            *number = n;
            return true;
        }
    }
    for (int n = 1; n <= 255; ++n) {
        const std::string name = "VORIN_COM" + std::to_string(n);
        if (std::getenv(name.c_str()) != nullptr) continue;
        const std::string fallback = "/dev/ttyS" + std::to_string(n - 1);
        struct stat other {};
        if (stat(fallback.c_str(), &other) == 0) continue;
        if (setenv(name.c_str(), device.c_str(), 1) != 0) {
            if (error) *error = name + ": " + std::strerror(errno);
            return false;
        }
        *number = n;
        return true;
    }
    if (error) *error = "no free COM number left for " + device;
    return false;
}

}  // namespace vorin::platform
