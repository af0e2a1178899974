// Manual-reset events and a wait on several of them.
//
// An event is a state word in memory. A thread in WaitAny looks at the words,
// spins a short, bounded while, and only then goes to sleep; Set wakes a
// sleeper only when there is one. So two threads that meet often (a caller
// and its worker, byte by byte) meet without a system call.
//
// A device's own wait (a transfer waiting for the tty or an OVERLAPPED, and
// for its cancel event) happens in the kernel and needs a kernel object: an
// event made for devices keeps one beside the word (POSIX: an eventfd whose
// counter is non-zero while signalled; Windows: a manual-reset event), kept in
// step on every change of state. Setting a set event or resetting a reset one
// touches neither.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorin::platform {

// Who waits on an event: only threads of this process through WaitAny, or
// also a device wait in the kernel (SerialDevice's cancel and stop events).
enum class EventUse { Threads, Devices };

namespace detail {
class KernelMirror;
struct WaitNode;
}  // namespace detail

class Event {
public:
    // Manual reset. Null when the system refused (LastError() tells why).
    static std::unique_ptr<Event> Create(bool signalled, EventUse use = EventUse::Devices);
    // An event that is signalled while a kernel object of another kind is (a
    // thread's handle, which nothing in this process sets when the system
    // ends the thread): only waited for; Set and Reset fail. A WaitAny that
    // includes one looks at it every few milliseconds while it sleeps.
    static std::unique_ptr<Event> Watching(std::unique_ptr<detail::KernelMirror> object);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool Set();
    bool Reset();
    bool IsSet() const;

    // The kernel object of an event made for devices; null otherwise.
    detail::KernelMirror* Mirror() const { return mirror_.get(); }

private:
    friend int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs);
    explicit Event(bool signalled);
    void Enlist(detail::WaitNode& node);
    void Delist(detail::WaitNode& node);
    void WakeSleepers();

    std::atomic<uint32_t> state_;
    std::atomic<uint32_t> sleepers_{0};
    std::atomic<bool> listLock_{false};  // guards the list of sleepers
    detail::WaitNode* sleeperList_ = nullptr;
    std::atomic<bool> mirrorLock_{false};  // keeps the kernel object in step with state_
    std::unique_ptr<detail::KernelMirror> mirror_;
    bool watching_ = false;  // the kernel object alone tells the state
};

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;
constexpr std::size_t kMaxWaitEvents = 64;

// Waits until one of the events is signalled or `timeoutMs` passed.
// Returns the index of the first signalled event (lowest index wins when
// several are), kWaitTimeout, or kWaitFailed (a null event, more than
// kMaxWaitEvents, a system failure). Events stay signalled: they are
// manual-reset.
int WaitAny(Event* const* events, std::size_t count, uint32_t timeoutMs);

// How long WaitAny keeps looking before it sleeps, in microseconds. A wait
// that ends within it costs no system call and no context switch; one that
// does not has burnt this much CPU in vain. The default is chosen by
// measurement (docs/performance.md); the environment variable VORIN_SPIN_US
// replaces it, for measuring it again.
uint32_t SpinMicros();
void SetSpinMicros(uint32_t micros);

}  // namespace vorin::platform
