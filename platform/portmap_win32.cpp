#include "platform/portmap.h"
#include "platform/net_port.h"

#include <cctype>

namespace vorin::platform {

bool ComNumberForDevice(const std::string& device, int* number, std::string* error) {
    if (LooksLikeNetworkPortUrl(device)) return ComNumberForNetworkUrl(device, number, error);
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    if (name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M') {
        int n = 0;
        bool ok = name.size() - 3 <= 3;
        for (std::size_t i = 3; ok && i < name.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])))
                ok = false;
            else
                n = n * 10 + (name[i] - '0');
        }
        if (ok && n >= 1 && n <= 255) {
            *number = n;
            return true;
        }
    }
    if (error) *error = device + ": give a COM port as a number or as COMn (1 to 255)";
    return false;
}

}  // namespace vorin::platform
