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
