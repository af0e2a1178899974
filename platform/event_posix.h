// What the other POSIX implementations need of an Event: its fd for poll().
#pragma once
#include <chrono>

namespace vorin::platform {

class Event;

// -1 for an event made for threads only (EventUse::Threads): a device must
// be given events made for devices.
int EventFd(const Event& event);

// Milliseconds for poll() until `deadline` (-1 when infinite), rounded up.
int PollTimeout(std::chrono::steady_clock::time_point deadline, bool infinite);

}  // namespace vorin::platform
