// The POSIX parts of an Event: a sleeping WaitAny waits on a futex, and an
// event made for devices keeps an eventfd whose counter is non-zero exactly
// while the event is signalled (Set writes 1, Reset reads the counter back to
// 0), so a device's poll() can wait on it together with the tty.
#include "platform/event.h"
#include "platform/event_internal.h"
#include "platform/event_posix.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/posix_errno.h"

namespace vorin::platform {

namespace {

class EventfdMirror final : public detail::KernelMirror {
public:
    explicit EventfdMirror(int fd) : fd_(fd) {}
    ~EventfdMirror() override { ::close(fd_); }
    EventfdMirror(const EventfdMirror&) = delete;
    EventfdMirror& operator=(const EventfdMirror&) = delete;

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
    bool Signalled() const override {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    int Fd() const { return fd_; }

private:
    int fd_;
};

long Futex(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    return ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0);
}

}  // namespace

namespace detail {

std::unique_ptr<KernelMirror> KernelMirror::Create(bool signalled) {
    int fd = ::eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        FailWithErrno();
        return nullptr;
    }
    return std::make_unique<EventfdMirror>(fd);
}

Parker::Parker() = default;
Parker::~Parker() = default;

bool Parker::Sleep(uint32_t timeoutMs) {
    if (woken_.load() != 0) return true;
    timespec ts{};
    const timespec* limit = nullptr;
    if (timeoutMs != kInfinite) {
        ts.tv_sec = static_cast<time_t>(timeoutMs / 1000);
        ts.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000;
        limit = &ts;
    }
    // Ends at once when Wake came first (the word is no longer 0); EINTR and
    // early ends are the caller's to look again.
    Futex(&woken_, FUTEX_WAIT_PRIVATE, 0, limit);
    return woken_.load() != 0;
}

void* Parker::Mark() {
    woken_.store(1);
    return &woken_;
}

// A futex wake on memory that is no longer the parker's is harmless: at
// worst another futex there sees an early wake, which every futex user
// expects.
void Parker::Notify(void* token) {
    Futex(static_cast<std::atomic<uint32_t>*>(token), FUTEX_WAKE_PRIVATE, 1, nullptr);
}

}  // namespace detail

int EventFd(const Event& event) {
    const auto* mirror = static_cast<const EventfdMirror*>(event.Mirror());
    return mirror != nullptr ? mirror->Fd() : -1;
}

int PollTimeout(std::chrono::steady_clock::time_point deadline, bool infinite) {
    if (infinite) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    // Round up so that a wait never ends a hair before its deadline.
    return static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
}

}  // namespace vorin::platform
