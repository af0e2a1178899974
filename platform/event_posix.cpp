// A manual-reset event on an eventfd: the counter is non-zero exactly while
// the event is signalled. Set writes 1 (the counter only grows), Reset reads
// the counter back to 0, and a wait is a poll() for readability, which does
// not consume anything: the manual-reset behaviour comes for free.
#include "platform/event.h"
#include "platform/event_posix.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "platform/posix_errno.h"

namespace vorin::platform {

namespace {

class PosixEvent final : public Event {
public:
    explicit PosixEvent(int fd) : fd_(fd) {}
    ~PosixEvent() override { ::close(fd_); }

    bool Set() override {
        uint64_t one = 1;
        if (::write(fd_, &one, sizeof one) == sizeof one) return true;
        FailWithErrno();
        return false;
    }
    bool Reset() override {
        uint64_t value;
        // Non-blocking fd: EAGAIN means the counter already was 0.
        if (::read(fd_, &value, sizeof value) == sizeof value || errno == EAGAIN) return true;
        FailWithErrno();
        return false;
    }
    bool IsSet() const override {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    int Fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<Event> Event::Create(bool signalled) {
    int fd = ::eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        FailWithErrno();
        return nullptr;
    }
    return std::make_unique<PosixEvent>(fd);
}

int EventFd(const Event& event) { return static_cast<const PosixEvent&>(event).Fd(); }

int PollTimeout(std::chrono::steady_clock::time_point deadline, bool infinite) {
    if (infinite) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    // Round up so that a wait never ends a hair before its deadline.
    return static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
}

int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs) {
    if (count == 0 || !events) {
        SetLastError(kErrInvalidParameter);
        return kWaitFailed;
    }
    std::vector<pollfd> fds(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!events[i]) {
            SetLastError(kErrInvalidHandle);
            return kWaitFailed;
        }
        fds[i] = pollfd{EventFd(*events[i]), POLLIN, 0};
    }
    const bool infinite = timeoutMs == kInfinite;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    for (;;) {
        int n = ::poll(fds.data(), fds.size(), PollTimeout(deadline, infinite));
        if (n < 0) {
            if (errno == EINTR) continue;
            FailWithErrno();
            return kWaitFailed;
        }
        if (n == 0) return kWaitTimeout;
        for (std::size_t i = 0; i < count; ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                SetLastError(kErrInvalidHandle);
                return kWaitFailed;
            }
            if (fds[i].revents & POLLIN) return static_cast<int>(i);
        }
    }
}

}  // namespace vorin::platform
