#include "loader/options.h"

#include <cctype>

#include "platform/portmap.h"

namespace vorin::loader {

namespace {

// "5" or "COM5" (any case): the COM number, else 0 (-1 when out of range).
int PlainComNumber(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(digits[2])) == 'M') {
        digits = digits.substr(3);
    }
    if (digits.empty() || digits.size() > 6) return 0;
    int n = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
        n = n * 10 + (c - '0');
    }
    return (n >= 1 && n <= 255) ? n : -1;
}

bool ResolvePort(const std::string& text, int* port, std::string* error) {
    const int plain = PlainComNumber(text);
    if (plain > 0) {
        *port = plain;
        return true;
    }
    if (plain < 0) {
        *error = "--port " + text + ": the COM number must be 1 to 255";
        return false;
    }
    std::string why;
    if (!vorin::platform::ComNumberForDevice(text, port, &why)) {
        *error = "--port " + text + ": " + why;
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
        }
        auto takeValue = [&](const char* name) {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                *error = std::string(name) + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--list-ports") {
            options->listPorts = true;
        } else if (arg == "--no-wait") {
            options->waitForKey = false;
        } else if (arg == "--port") {
            if (!takeValue("--port")) return false;
            options->portArgument = value;
            if (!ResolvePort(value, &options->port, error)) return false;
        } else if (arg == "--image") {
            if (!takeValue("--image")) return false;
            if (value.empty()) {
                *error = "--image needs a file name";
                return false;
            }
            options->imagePath = value;
        } else if (arg == "--preview") {
            if (!takeValue("--preview")) return false;
            if (value.empty()) {
                *error = "--preview needs a file name";
                return false;
            }
            options->previewPath = value;
        } else {
            *error = "unknown option: " + args[i];
            return false;
        }
        if (hasValue && (arg == "--help" || arg == "-h" || arg == "--version" ||
                         arg == "--no-wait" || arg == "--list-ports")) {
            *error = arg + " takes no value";
            return false;
        }
    }
    return true;
}

std::string UsageText() {
    return "Usage: vorin-codepage [options]\n"
           "\n"
           "Loads code page 437 into a VORIN receipt printer over a serial line\n"
           "(38400 baud). Without options it asks for the COM port.\n"
           "\n"
           "Options:\n"
           "  --port N        use COM port N (1-255) instead of asking; also COMn, or on\n"
           "                  Linux a device path such as /dev/ttyUSB0, or a network port:\n"
           "                  rfc2217://HOST:PORT or tcp://HOST:PORT\n"
           "  --image FILE    send FILE (exactly 36864 bytes) instead of the built-in image\n"
           "  --no-wait       end without waiting for a key after the report\n"
           "  --preview PNG   write a picture of the image's glyphs to PNG and end\n"
           "  --list-ports    list the serial ports with their COM numbers and end\n"
           "  --help          show this text\n"
           "  --version       show the version\n"
           "\n"
           "Exit status: 0 on success (or port 0 typed), the printer link's result code\n"
           "when the upload failed, 64 bad command line or image file, 66 input ended\n"
           "before a port was given, 69 no such port, 74 port could not be opened.\n"
           "On Linux COM n is the device named by VORIN_COM<n>, else /dev/ttyS<n-1>.\n";
}

}  // namespace vorin::loader
