// The text of --list-ports: one line per serial port, in the order the
// platform gives them, so the operator can tell which COM number to type.
#pragma once

#include <string>
#include <vector>

#include "platform/ports.h"

namespace vorin::loader {

std::string FormatPortList(const std::vector<vorin::platform::SerialPortInfo>& ports);

}  // namespace vorin::loader
