#include "platform/thread.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <utility>

#include "platform/errors.h"
#include "platform/event.h"

namespace vorin::platform {

namespace win32 {
HANDLE EventHandle(const Event& event);                 // event_win32.cpp
std::unique_ptr<Event> EventOverHandle(HANDLE handle);  // event_win32.cpp
}  // namespace win32

namespace {

// Set while the DLL that holds this code is being unloaded (DllMain below).
std::atomic<bool> gUnloading{false};

// The module that holds this code when it is a DLL, else null. A thread
// running this code holds a reference on that DLL and gives it back only as
// it ends (FreeLibraryAndExitThread), so a host's FreeLibrary never unmaps
// code that a thread still runs.
HMODULE OwnDll() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnDll), &module))
        return nullptr;
    return module == ::GetModuleHandleW(nullptr) ? nullptr : module;
}

HMODULE PinOwnDll() {
    if (OwnDll() == nullptr) return nullptr;
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&OwnDll),
                         &module);
    return module;
}

class Win32Thread final : public Thread {
public:
    Win32Thread(std::function<void()> body, std::unique_ptr<Event> finished)
        : body_(std::move(body)), finished_(std::move(finished)) {}

    ~Win32Thread() override { Join(); }
    Win32Thread(const Win32Thread&) = delete;
    Win32Thread& operator=(const Win32Thread&) = delete;

    Event& Finished() override { return *finished_; }
    Event* Ended() override { return ended_.get(); }

    void Join() override {
        if (handle_ == nullptr) {
            return;
        }
        // A thread that destroys its own Thread object must not wait for
        // itself; its handle is simply released.
        if (::GetCurrentThreadId() != id_) {
            HANDLE waits[2] = {win32::EventHandle(*finished_), handle_};
            ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        }
        ::CloseHandle(handle_);
        handle_ = nullptr;
    }

    bool Launch(ThreadPriority priority) {
        // Created suspended so that the priority is in place before the body
        // runs its first instruction.
        pin_ = PinOwnDll();
        handle_ = ::CreateThread(nullptr, 0, &Win32Thread::Entry, this, CREATE_SUSPENDED, &id_);
        if (handle_ == nullptr) {
            if (pin_ != nullptr) {
                const DWORD error = ::GetLastError();
                ::FreeLibrary(pin_);
                ::SetLastError(error);
            }
            return false;
        }
        HANDLE ended = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), handle_, ::GetCurrentProcess(), &ended,
                              SYNCHRONIZE, FALSE, 0)) {
            ended_ = win32::EventOverHandle(ended);
        }
        if (priority == ThreadPriority::TimeCritical) {
            // Best effort: the thread runs at normal priority if refused.
            ::SetThreadPriority(handle_, THREAD_PRIORITY_TIME_CRITICAL);
        }
        if (::ResumeThread(handle_) == static_cast<DWORD>(-1)) {
            const DWORD error = ::GetLastError();
            ::TerminateThread(handle_, 0);  // never ran a line of the body
            ::CloseHandle(handle_);
            if (pin_ != nullptr) ::FreeLibrary(pin_);
            handle_ = nullptr;
            ::SetLastError(error);
            return false;
        }
        return true;
    }

private:
    static DWORD WINAPI Entry(LPVOID self) noexcept {
        HMODULE pin = static_cast<Win32Thread*>(self)->pin_;
        RunBody(self);
        // Nothing of this DLL runs after this call, which may unload it.
        if (pin != nullptr) ::FreeLibraryAndExitThread(pin, 0);
        return 0;
    }

    static void RunBody(LPVOID self) noexcept {
        // The body and the event are taken out of the object first: a body
        // that destroys its own Thread object must not pull them from under
        // itself.
        auto* thread = static_cast<Win32Thread*>(self);
        std::function<void()> body = std::move(thread->body_);
        std::shared_ptr<Event> finished = thread->finished_;
        body();  // an escaping exception ends the process, as with std::thread
        finished->Set();
    }

    std::function<void()> body_;
    std::shared_ptr<Event> finished_;
    std::unique_ptr<Event> ended_;  // over a second handle of the thread
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    HMODULE pin_ = nullptr;
};

struct ClassMap {
    PriorityClass cls;
    DWORD value;
};
constexpr ClassMap kClasses[] = {
    {PriorityClass::Idle, IDLE_PRIORITY_CLASS},
    {PriorityClass::BelowNormal, BELOW_NORMAL_PRIORITY_CLASS},
    {PriorityClass::Normal, NORMAL_PRIORITY_CLASS},
    {PriorityClass::AboveNormal, ABOVE_NORMAL_PRIORITY_CLASS},
    {PriorityClass::High, HIGH_PRIORITY_CLASS},
    {PriorityClass::Realtime, REALTIME_PRIORITY_CLASS},
};

}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<void()> body, ThreadPriority priority) {
    if (!body) {
        platform::SetLastError(kErrInvalidParameter);
        return nullptr;
    }
    auto finished = Event::Create(false);
    if (!finished) {
        return nullptr;
    }
    auto thread = std::make_unique<Win32Thread>(std::move(body), std::move(finished));
    if (!thread->Launch(priority)) {
        return nullptr;
    }
    return thread;
}

// The process is opened by id with only the right each call needs, and the
// handle is closed at once, so nothing is left open between open and close
// of a port.
bool GetProcessPriorityClass(PriorityClass& out) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId());
    if (process == nullptr) {
        return false;
    }
    const DWORD value = ::GetPriorityClass(process);
    const DWORD error = ::GetLastError();
    ::CloseHandle(process);
    if (value == 0) {
        ::SetLastError(error);
        return false;
    }
    out = PriorityClass::Other;
    for (const ClassMap& m : kClasses) {
        if (m.value == value) {
            out = m.cls;
        }
    }
    return true;
}

bool SetProcessPriorityClass(PriorityClass cls) {
    DWORD value = 0;
    for (const ClassMap& m : kClasses) {
        if (m.cls == cls) {
            value = m.value;
        }
    }
    if (value == 0) {
        platform::SetLastError(kErrInvalidParameter);
        return false;
    }
    HANDLE process = ::OpenProcess(PROCESS_SET_INFORMATION, FALSE, ::GetCurrentProcessId());
    if (process == nullptr) {
        return false;
    }
    const BOOL ok = ::SetPriorityClass(process, value);
    const DWORD error = ::GetLastError();
    ::CloseHandle(process);
    if (!ok) {
        ::SetLastError(error);
        return false;
    }
    return true;
}

uint64_t CurrentThreadId() { return ::GetCurrentThreadId(); }

bool ThreadsCanBeAwaited() { return !gUnloading.load(); }

}  // namespace vorin::platform

// Tells the teardown code of a DLL built with this file that it runs inside
// the unload (see ThreadsCanBeAwaited). The runtime calls this before it runs
// the DLL's static destructors. In a program it is never called.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) vorin::platform::gUnloading.store(true);
    return TRUE;
}
