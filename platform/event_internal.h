// The system-specific parts of an Event (event.cpp holds the rest): the
// kernel object beside an event made for devices, and how a thread in WaitAny
// sleeps and is woken.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

namespace vorin::platform::detail {

class KernelMirror {
public:
    // In the given state; null when the system refused (LastError() tells why).
    static std::unique_ptr<KernelMirror> Create(bool signalled);
    virtual ~KernelMirror() = default;
    virtual bool Set() = 0;
    virtual bool Reset() = 0;
    // Looks without waiting.
    virtual bool Signalled() const = 0;

protected:
    KernelMirror() = default;
};

// Where one thread in WaitAny sleeps. Wake may come before Sleep: the sleep
// then ends at once.
class Parker {
public:
    Parker();
    ~Parker();
    Parker(const Parker&) = delete;
    Parker& operator=(const Parker&) = delete;

    // Sleeps until woken or `timeoutMs` (kInfinite: no limit). False when the
    // time ran out first.
    bool Sleep(uint32_t timeoutMs);
    // Waking is two steps: Mark while the sleeper cannot leave (the event's
    // list lock is held), then Notify with what Mark gave, after the lock is
    // released, so that the woken thread does not find the lock still taken.
    // Notify may come after the parker is gone: it touches no memory of it.
    void* Mark();
    static void Notify(void* token);

private:
    std::atomic<uint32_t> woken_{0};
    // Windows: a slim lock and a condition variable (one pointer each,
    // zero-initialised); unused on POSIX, where the futex is woken_ itself.
    void* lock_ = nullptr;
    void* condition_ = nullptr;
};

// One sleeping WaitAny's entry in the list of one of its events.
struct WaitNode {
    Parker* parker = nullptr;
    WaitNode* next = nullptr;
    WaitNode* prev = nullptr;
};

}  // namespace vorin::platform::detail
