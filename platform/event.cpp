// Events as state words, and WaitAny as look, spin, then sleep.
//
// Nobody is woken by a system call unless it sleeps: a sleeping WaitAny puts
// a node on the list of each event it waits for and counts itself in the
// event's `sleepers_`, then looks at the states once more before it sleeps;
// Set changes the state first and then looks at `sleepers_`. Both steps of
// both sides are sequentially consistent, so at least one of them sees the
// other: either the waiter finds the event set, or Set finds the sleeper and
// wakes it.
#include "platform/event.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>

#include "platform/errors.h"
#include "platform/event_internal.h"

namespace vorin::platform {

using detail::Parker;
using detail::WaitNode;

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for the transfer worker to move a byte (a system call or two)
// and for the caller to come back with the next one, so that neither sleeps
// while bytes flow; short against a paced line's waits, where it is lost.
// Measured in docs/performance.md.
constexpr uint32_t kDefaultSpinMicros = 50;

// VORIN_SPIN_US overrides it, for measuring (the benchmarks run with several
// values); read once.
uint32_t InitialSpinMicros() {
    const char* text = std::getenv("VORIN_SPIN_US");
    if (text == nullptr || *text == '\0') {
        // On one core the thread a spin waits for cannot run meanwhile.
        return std::thread::hardware_concurrency() == 1 ? 0 : kDefaultSpinMicros;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && value <= 100000 ? static_cast<uint32_t>(value) : kDefaultSpinMicros;
}

std::atomic<uint32_t> gSpinMicros{InitialSpinMicros()};

// Sleepers of one event woken after its list lock is released; any beyond
// these (never seen: an event has one or two) are woken under it.
constexpr std::size_t kMaxWokenAtOnce = 8;

// How often a sleeping WaitAny looks at the kernel objects it watches.
constexpr uint32_t kWatchMs = 5;

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// A lock around a few instructions (a list insert, one call to the kernel
// object), taken only where a thread sleeps, wakes a sleeper or changes a
// device event: almost never contended. A holder that was preempted is
// waited for by yielding to it.
class SpinGuard {
public:
    explicit SpinGuard(std::atomic<bool>& lock) : lock_(lock) {
        for (int spins = 0; lock_.exchange(true, std::memory_order_acquire); ++spins) {
            if (spins < 64)
                CpuRelax();
            else
                std::this_thread::yield();
        }
    }
    ~SpinGuard() { lock_.store(false, std::memory_order_release); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    std::atomic<bool>& lock_;
};

// Spinning pays only while the thread that will set the event is running on
// another core. Where it is not (one core, or cores busy with other
// programs), every spin runs out in vain and only delays the partner. So each
// thread halves its spin when one runs out and goes back to the whole spin
// when one succeeds; spun out to nothing, it tries a short spin now and then
// to find out whether spinning pays again.
class SpinBudget {
public:
    uint32_t Next() {
        const uint32_t limit = SpinMicros();
        if (micros_ > limit) micros_ = limit;
        if (micros_ != 0) return micros_;
        if (++sinceProbe_ < kProbeEvery) return 0;
        sinceProbe_ = 0;
        return std::min<uint32_t>(limit, kProbeMicros);
    }
    void Hit() { micros_ = SpinMicros(); }
    void Miss() { micros_ /= 2; }

private:
    static constexpr uint32_t kProbeEvery = 16;
    static constexpr uint32_t kProbeMicros = 4;
    uint32_t micros_ = std::numeric_limits<uint32_t>::max();
    uint32_t sinceProbe_ = 0;
};

SpinBudget& ThisThreadsBudget() {
    thread_local SpinBudget budget;
    return budget;
}

}  // namespace

uint32_t SpinMicros() { return gSpinMicros.load(std::memory_order_relaxed); }
void SetSpinMicros(uint32_t micros) { gSpinMicros.store(micros, std::memory_order_relaxed); }

std::unique_ptr<Event> Event::Create(bool signalled, EventUse use) {
    std::unique_ptr<Event> event(new Event(signalled));
    if (use == EventUse::Devices) {
        event->mirror_ = detail::KernelMirror::Create(signalled);
        if (!event->mirror_) return nullptr;
    }
    return event;
}

std::unique_ptr<Event> Event::Watching(std::unique_ptr<detail::KernelMirror> object) {
    if (!object) return nullptr;
    std::unique_ptr<Event> event(new Event(false));
    event->mirror_ = std::move(object);
    event->watching_ = true;
    return event;
}

Event::Event(bool signalled) : state_(signalled ? 1 : 0) {}

bool Event::IsSet() const { return state_.load() != 0 || (watching_ && mirror_->Signalled()); }

Event::~Event() = default;

bool Event::Set() {
    if (watching_) {
        SetLastError(kErrInvalidHandle);
        return false;
    }
    if (mirror_) {
        if (state_.load() != 0) return true;
        SpinGuard guard(mirrorLock_);
        if (state_.load() == 0) {
            if (!mirror_->Set()) return false;
            state_.store(1);
        }
    } else if (state_.exchange(1) != 0) {
        return true;  // whoever set it has woken the sleepers
    }
    WakeSleepers();
    return true;
}

bool Event::Reset() {
    if (watching_) {
        SetLastError(kErrInvalidHandle);
        return false;
    }
    if (state_.load() == 0) return true;
    if (!mirror_) {
        state_.store(0);
        return true;
    }
    SpinGuard guard(mirrorLock_);
    if (state_.load() != 0) {
        if (!mirror_->Reset()) return false;
        state_.store(0);
    }
    return true;
}

void Event::WakeSleepers() {
    if (sleepers_.load() == 0) return;
    void* tokens[kMaxWokenAtOnce];
    std::size_t marked = 0;
    {
        // Under the list lock: a sleeper leaves the list (and its parker's
        // memory) only after this.
        SpinGuard guard(listLock_);
        for (WaitNode* node = sleeperList_; node != nullptr; node = node->next) {
            void* token = node->parker->Mark();
            if (marked < kMaxWokenAtOnce)
                tokens[marked++] = token;
            else
                Parker::Notify(token);
        }
    }
    for (std::size_t i = 0; i < marked; ++i) Parker::Notify(tokens[i]);
}

void Event::Enlist(WaitNode& node) {
    SpinGuard guard(listLock_);
    node.prev = nullptr;
    node.next = sleeperList_;
    if (sleeperList_ != nullptr) sleeperList_->prev = &node;
    sleeperList_ = &node;
    sleepers_.fetch_add(1);
}

void Event::Delist(WaitNode& node) {
    SpinGuard guard(listLock_);
    if (node.prev != nullptr)
        node.prev->next = node.next;
    else
        sleeperList_ = node.next;
    if (node.next != nullptr) node.next->prev = node.prev;
    sleepers_.fetch_sub(1);
}

int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > kMaxWaitEvents) {
        SetLastError(kErrInvalidParameter);
        return kWaitFailed;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            SetLastError(kErrInvalidHandle);
            return kWaitFailed;
        }
    }
    bool watching = false;
    for (std::size_t i = 0; i < count; ++i) watching = watching || events[i]->watching_;
    auto firstSet = [&]() -> int {
        for (std::size_t i = 0; i < count; ++i)
            if (watching ? events[i]->IsSet() : events[i]->state_.load() != 0)
                return static_cast<int>(i);
        return -1;
    };
    if (int i = firstSet(); i >= 0) return i;
    if (timeoutMs == 0) return kWaitTimeout;

    const bool infinite = timeoutMs == kInfinite;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    SpinBudget& budget = ThisThreadsBudget();
    auto spinEnd = start + std::chrono::microseconds(budget.Next());
    if (!infinite && deadline < spinEnd) spinEnd = deadline;
    while (Clock::now() < spinEnd) {
        // The clock is read now and then only: it costs more than a look.
        for (int k = 0; k < 16; ++k) {
            CpuRelax();
            if (int i = firstSet(); i >= 0) {
                budget.Hit();
                return i;
            }
        }
    }
    budget.Miss();

    WaitNode nodes[kMaxWaitEvents];
    for (;;) {
        Parker parker;
        for (std::size_t i = 0; i < count; ++i) {
            nodes[i].parker = &parker;
            events[i]->Enlist(nodes[i]);
        }
        int found = firstSet();
        bool timedOut = false;
        if (found < 0) {
            uint32_t left = kInfinite;
            if (!infinite) {
                const auto rest =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                left = rest.count() > 0 ? static_cast<uint32_t>(rest.count()) : 0;
            }
            // Nobody wakes a sleeper for a watched object: look again soon.
            if (watching) left = std::min(left, kWatchMs);
            timedOut = left == 0 || !parker.Sleep(left);
            found = firstSet();
        }
        for (std::size_t i = 0; i < count; ++i) events[i]->Delist(nodes[i]);
        if (found >= 0) return found;
        if (timedOut && !infinite && Clock::now() >= deadline) return kWaitTimeout;
        // Woken by an event that was reset again before this look, or early
        // by the system: sleep again for what is left.
    }
}

}  // namespace vorin::platform
