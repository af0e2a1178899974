// Manual-reset events and a wait on several of them.
//
// Windows: CreateEventA / WaitForMultipleObjects. POSIX: an eventfd whose
// counter is non-zero while the event is signalled, so that a wait on
// "cancel, or I/O done" is a single poll() together with a device.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorin::platform {

class Event {
public:
    // Manual reset. Null when the system refused (LastError() tells why).
    static std::unique_ptr<Event> Create(bool signalled);
    virtual ~Event() = default;
    virtual bool Set() = 0;
    virtual bool Reset() = 0;
    virtual bool IsSet() const = 0;

protected:
    Event() = default;
};

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

// Waits until one of the events is signalled or `timeoutMs` passed.
// Returns the index of the first signalled event (lowest index wins when
// several are), kWaitTimeout, or kWaitFailed (a null event, a system
// failure). Events stay signalled: they are manual-reset.
int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs);

}  // namespace vorin::platform
