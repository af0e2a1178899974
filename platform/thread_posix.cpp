#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "platform/event.h"
#include "platform/posix_errno.h"

namespace vorin::platform {

namespace {

class PosixThread final : public Thread {
public:
    PosixThread(std::unique_ptr<Event> finished) : finished_(std::move(finished)) {}
    ~PosixThread() override { Join(); }

    void Run(std::function<void()> body, ThreadPriority priority) {
        thread_ = std::thread([this, body = std::move(body), priority] {
            if (priority == ThreadPriority::TimeCritical) {
                // Best effort: a lower nice value needs privileges; without
                // them the worker simply runs at normal priority.
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -15);
            }
            body();
            finished_->Set();
        });
    }
    Event& Finished() override { return *finished_; }
    void Join() override {
        // A body that destroys its own thread object must not join itself.
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
        else if (thread_.joinable())
            thread_.detach();
    }

private:
    std::unique_ptr<Event> finished_;
    std::thread thread_;
};

struct NiceClass {
    int nice;
    PriorityClass cls;
};
constexpr NiceClass kClasses[] = {
    {19, PriorityClass::Idle},  {10, PriorityClass::BelowNormal},
    {0, PriorityClass::Normal}, {-5, PriorityClass::AboveNormal},
    {-10, PriorityClass::High}, {-20, PriorityClass::Realtime},
};

}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<void()> body, ThreadPriority priority) {
    if (!body) {
        SetLastError(kErrInvalidParameter);
        return nullptr;
    }
    auto finished = Event::Create(false);
    if (!finished) return nullptr;
    auto thread = std::make_unique<PosixThread>(std::move(finished));
    try {
        thread->Run(std::move(body), priority);
    } catch (const std::system_error& e) {
        FailWithErrno(e.code().value());
        return nullptr;
    }
    return thread;
}

bool GetProcessPriorityClass(PriorityClass& out) {
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    if (nice == -1 && errno != 0) {
        FailWithErrno();
        return false;
    }
    out = PriorityClass::Other;
    for (const auto& c : kClasses)
        if (c.nice == nice) out = c.cls;
    return true;
}

bool SetProcessPriorityClass(PriorityClass cls) {
    for (const auto& c : kClasses) {
        if (c.cls != cls) continue;
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()), c.nice) == 0) return true;
        FailWithErrno();
        return false;
    }
    SetLastError(kErrInvalidParameter);
    return false;
}

uint64_t CurrentThreadId() { return static_cast<uint64_t>(::syscall(SYS_gettid)); }

bool ThreadsCanBeAwaited() { return true; }

}  // namespace vorin::platform
