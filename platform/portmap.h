// Serial device names given on a command line, turned into the COM numbers
// the serial port library opens.
#pragma once

#include <string>

namespace vorin::platform {

// Gives the COM number (1 to 255) under which `device` can be opened.
// POSIX: a device path; when no VORIN_COM<n> names it yet, the first n whose
// VORIN_COM<n> is unset and whose default /dev/ttyS<n-1> does not exist is
// set to it in this process's environment (so the serial library, which maps
// COM n through VORIN_COM<n>, opens that path). Windows: "\\.\COMn" or
// "COMn". False with *error when the name cannot be used.
bool ComNumberForDevice(const std::string& device, int* number, std::string* error);

}  // namespace vorin::platform
