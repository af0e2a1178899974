// Threads with a priority, and the process priority class.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace vorin::platform {

class Event;

enum class ThreadPriority { Normal, TimeCritical };

class Thread {
public:
    // Starts `body` on a new thread. Null when the system refused.
    // TimeCritical is best effort where the system needs privileges for it.
    static std::unique_ptr<Thread> Start(std::function<void()> body, ThreadPriority priority);
    virtual ~Thread() = default;  // joins if still joinable
    // Signalled when `body` has returned: lets a thread wait for this one
    // together with other events (WaitAny).
    virtual Event& Finished() = 0;
    // Signalled once the thread is gone, also when the system ended it
    // before its body returned (Windows ends every other thread at process
    // exit, before the DLLs' teardown runs). Null where a thread cannot end
    // that way (POSIX).
    virtual Event* Ended() { return nullptr; }
    // Waits until the body has returned (or the thread is gone), not for the
    // thread's own exit after that: inside a Windows DLL's teardown the
    // caller holds the loader lock, which a thread needs to exit. A thread
    // holds a reference on the DLL that runs it until it has exited, so its
    // last instructions stay loaded.
    virtual void Join() = 0;

protected:
    Thread() = default;
};

// Priority classes of the whole process, named as on Windows. On POSIX the
// class is read from and written to the process's nice value:
// Idle 19, BelowNormal 10, Normal 0, AboveNormal -5, High -10, Realtime -20;
// any other nice value reads as Other.
enum class PriorityClass { Idle, BelowNormal, Normal, AboveNormal, High, Realtime, Other };

// False when the system refused; LastError() tells why.
bool GetProcessPriorityClass(PriorityClass& out);
bool SetProcessPriorityClass(PriorityClass cls);

uint64_t CurrentThreadId();

// False while this code may not wait for another thread to end: inside a
// Windows DLL's unload, where the loader lock is held (a thread cannot end
// without it) and, at process exit, the other threads are already gone.
// Teardown code at exit asks this before it joins a thread. Always true on
// POSIX.
bool ThreadsCanBeAwaited();

}  // namespace vorin::platform
