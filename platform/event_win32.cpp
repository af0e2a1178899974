#include "platform/event.h"

#include <windows.h>

#include "platform/errors.h"

namespace vorin::platform {

namespace {

class Win32Event final : public Event {
public:
    explicit Win32Event(HANDLE handle) : handle_(handle) {}
    ~Win32Event() override { ::CloseHandle(handle_); }
    Win32Event(const Win32Event&) = delete;
    Win32Event& operator=(const Win32Event&) = delete;

    bool Set() override { return ::SetEvent(handle_) != FALSE; }
    bool Reset() override { return ::ResetEvent(handle_) != FALSE; }
    bool IsSet() const override { return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }

    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

namespace win32 {
// The serial device and the threads wait on events together with their own
// handles; they reach the handle through this (declared where it is used).
HANDLE EventHandle(const Event& event) {
    const auto* own = dynamic_cast<const Win32Event*>(&event);
    return own != nullptr ? own->Handle() : nullptr;
}

// An event over another waitable handle (a thread's), which it then owns:
// signalled when that object is. Only waited for, never set.
std::unique_ptr<Event> EventOverHandle(HANDLE handle) {
    return std::make_unique<Win32Event>(handle);
}
}  // namespace win32

std::unique_ptr<Event> Event::Create(bool signalled) {
    HANDLE handle = ::CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32Event>(handle);
}

int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        platform::SetLastError(kErrInvalidParameter);
        return kWaitFailed;
    }
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (std::size_t i = 0; i < count; ++i) {
        handles[i] = events[i] != nullptr ? win32::EventHandle(*events[i]) : nullptr;
        if (handles[i] == nullptr) {
            platform::SetLastError(kErrInvalidHandle);
            return kWaitFailed;
        }
    }
    const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeoutMs);
    if (r < WAIT_OBJECT_0 + count) {
        return static_cast<int>(r - WAIT_OBJECT_0);
    }
    if (r == WAIT_TIMEOUT) {
        return kWaitTimeout;
    }
    if (r != WAIT_FAILED) {
        // An abandoned mutex or anything else that is not an event: not a
        // result this interface knows, so it is a failed wait.
        platform::SetLastError(kErrInvalidHandle);
    }
    return kWaitFailed;
}

}  // namespace vorin::platform
