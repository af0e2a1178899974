// The loader's command line. Without options the program runs the operator
// dialogue unchanged; the options exist for scripts and tests.
#pragma once

#include <string>
#include <vector>

namespace vorin::loader {

// Exit statuses besides 0 (success, or the operator left with port 0) and the
// link's result code of a failed upload. The link never produces 63 to 100,
// so these cannot be mistaken for a result code.
inline constexpr int kExitUsage = 64;       // bad command line or image file
inline constexpr int kExitEndOfInput = 66;  // input ended before a port was chosen
inline constexpr int kExitNoSuchPort = 69;  // --port names a port the computer lacks
inline constexpr int kExitCannotOpen = 74;  // the port exists but could not be opened

struct Options {
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool waitForKey = true;
    int port = 0;              // 1 to 255 from --port; 0: ask the operator
    std::string portArgument;  // --port as given, for messages
    std::string imagePath;     // --image; empty: the built-in image
    std::string previewPath;   // --preview
};

// Parses argv[1..]. False with *error for an unknown option, a missing value
// or a port that cannot be used (a device path is mapped to a COM number
// through the platform layer).
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The text of --help.
std::string UsageText();

}  // namespace vorin::loader
