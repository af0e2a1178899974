// The Windows parts of an Event: a sleeping WaitAny sleeps on a condition
// variable with a slim lock (both served inside the process, also by Wine,
// where every kernel event call is a round trip to the server), and an event
// made for devices keeps a manual-reset kernel event for WaitCommEvent's and
// the OVERLAPPED transfers' WaitForMultipleObjects.
#include "platform/event.h"
#include "platform/event_internal.h"

#include <windows.h>

#include "platform/errors.h"

namespace vorin::platform {

namespace {

class HandleMirror final : public detail::KernelMirror {
public:
    explicit HandleMirror(HANDLE handle) : handle_(handle) {}
    ~HandleMirror() override { ::CloseHandle(handle_); }
    HandleMirror(const HandleMirror&) = delete;
    HandleMirror& operator=(const HandleMirror&) = delete;

    bool Set() override { return ::SetEvent(handle_) != FALSE; }
    bool Reset() override { return ::ResetEvent(handle_) != FALSE; }
    bool Signalled() const override { return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
};

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

}  // namespace

namespace win32 {
// The serial device waits on events together with its own handles; it reaches
// the handle through this (declared where it is used). Null for an event made
// for threads only.
HANDLE EventHandle(const Event& event) {
    const auto* mirror = static_cast<const HandleMirror*>(event.Mirror());
    return mirror != nullptr ? mirror->Handle() : nullptr;
}

// An event over another waitable handle (a thread's), which it then owns:
// signalled when that object is. Only waited for, never set.
std::unique_ptr<Event> EventOverHandle(HANDLE handle) {
    return Event::Watching(std::make_unique<HandleMirror>(handle));
}
}  // namespace win32

namespace detail {

std::unique_ptr<KernelMirror> KernelMirror::Create(bool signalled) {
    HANDLE handle = ::CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<HandleMirror>(handle);
}

// lock_ and condition_ start as null pointers: SRWLOCK_INIT and
// CONDITION_VARIABLE_INIT; neither needs destroying.
Parker::Parker() = default;
Parker::~Parker() = default;

bool Parker::Sleep(uint32_t timeoutMs) {
    auto* lock = reinterpret_cast<PSRWLOCK>(&lock_);
    auto* condition = reinterpret_cast<PCONDITION_VARIABLE>(&condition_);
    ::AcquireSRWLockExclusive(lock);
    // One sleep only: an early end is the caller's to look again.
    if (woken_.load() == 0) {
        ::SleepConditionVariableSRW(condition, lock, timeoutMs, 0);
    }
    const bool woken = woken_.load() != 0;
    ::ReleaseSRWLockExclusive(lock);
    return woken;
}

// A condition variable must be woken while it exists: all of it happens in
// Mark, under the event's list lock.
void* Parker::Mark() {
    auto* lock = reinterpret_cast<PSRWLOCK>(&lock_);
    ::AcquireSRWLockExclusive(lock);
    woken_.store(1);
    ::ReleaseSRWLockExclusive(lock);
    ::WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
    return nullptr;
}

void Parker::Notify(void*) {}

}  // namespace detail

}  // namespace vorin::platform
