// The POSIX port list read from a given sysfs tty folder, so that a test can
// hand it a tree of its own (with a USB adapter in it) besides the real one.
#pragma once

#include <string>
#include <vector>

#include "platform/ports.h"

namespace vorin::platform {

// `sysClassTty` is the folder /sys/class/tty or one laid out like it; device
// paths are "/dev/<name>" (or the uevent's DEVNAME) whatever the folder.
std::vector<SerialPortInfo> ListSerialPortsIn(const std::string& sysClassTty);

}  // namespace vorin::platform
