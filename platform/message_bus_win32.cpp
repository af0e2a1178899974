// The message bus on Windows: broadcast window messages and a hidden
// top-level window per participant, owned by the participant's drain thread.
#include <windows.h>

#include <condition_variable>
#include <memory>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/bus_queue.h"
#include "platform/message_bus.h"

namespace vorin::platform {
namespace {

constexpr char kClassName[] = "VorinBusWindow";
// Sent by Take to the drain thread: by the time it is answered, the drain
// thread is moving everything posted before it into the participant's queue.
constexpr UINT kSync = WM_APP + 0x2A;
// Windows broadcast only registered numbers (0xC000 up) to other programs.
constexpr UINT kFirstBusNumber = 0xC000;
// The thread queue itself holds 10,000 posted messages; ours drains it.
constexpr std::size_t kQueueLimit = 4096;

LRESULT CALLBACK BusWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == kSync) return 1;
    return DefWindowProcA(window, message, w, l);
}

bool RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = BusWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// Not message-only (HWND_MESSAGE): those get no broadcasts. Never shown.
HWND MakeWindow() {
    if (!RegisterClassOnce()) return nullptr;
    return CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// What the drain thread works on. Shared, so that a participant can let go
// without joining the thread: its last owner may be a thread_local of a DLL
// destroyed under the loader lock, where waiting for a thread's end deadlocks.
// It waits (bounded) for `done` instead, set once the window is gone.
struct Drain {
    explicit Drain(BusKeep keep) : queue(keep, kQueueLimit) {}
    ~Drain() {
        if (stop != nullptr) CloseHandle(stop);
        if (done != nullptr) CloseHandle(done);
    }
    BusQueue queue;
    HANDLE stop = nullptr;
    HANDLE done = nullptr;
    HWND window = nullptr;
    std::mutex startLock;
    std::condition_variable started;
    int state = 0;  // 1 running, -1 no window
};

void Started(Drain& d, int state) {
    std::lock_guard<std::mutex> lock(d.startLock);
    d.state = state;
    d.started.notify_all();
}

// Messages sent to the window are answered inside PeekMessageA. A broadcast
// also lands on the thread's default IME window: only the copy addressed to
// ours counts.
void Pump(Drain& d) {
    d.queue.Fill([&d](BusMessage* m) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message >= kFirstBusNumber && msg.message <= 0xFFFF) {
                if (msg.hwnd != d.window) continue;
                *m = BusMessage{msg.message, static_cast<uint32_t>(msg.wParam),
                                static_cast<uint32_t>(msg.lParam)};
                return true;
            }
            if (msg.hwnd != nullptr) DispatchMessageA(&msg);
        }
        return false;
    });
}

void DrainLoop(const std::shared_ptr<Drain>& d) {
    d->window = MakeWindow();
    if (d->window == nullptr) {
        SetEvent(d->done);
        return Started(*d, -1);
    }
    Started(*d, 1);
    for (;;) {
        const DWORD r =
            MsgWaitForMultipleObjectsEx(1, &d->stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r != WAIT_OBJECT_0 + 1) break;  // stop, or the wait failed
        Pump(*d);
    }
    DestroyWindow(d->window);
    d->queue.Close();
    SetEvent(d->done);
}

class Win32Participant final : public BusParticipant {
public:
    explicit Win32Participant(std::shared_ptr<Drain> d) : d_(std::move(d)) {}
    ~Win32Participant() override {
        SetEvent(d_->stop);
        WaitForSingleObject(d_->done, 2000);
    }

    bool Take(uint32_t number, BusMessage* out) override {
        return d_->queue.Take(number, out, [this] {
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(d_->window, kSync, 0, 0, SMTO_NORMAL, 1000, &answer);
        });
    }
    bool Wait(uint32_t timeoutMs) override { return d_->queue.Wait(timeoutMs); }
    void Wake() override { d_->queue.Wake(); }
    uint64_t Dropped() const override { return d_->queue.Dropped(); }

private:
    std::shared_ptr<Drain> d_;
};

}  // namespace

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::unique_ptr<BusParticipant> BusParticipant::Open(BusKeep keep) {
    auto d = std::make_shared<Drain>(keep);
    d->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    d->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (d->stop == nullptr || d->done == nullptr) return nullptr;
    // The window is made on the drain thread, which owns it from then on.
    std::thread(DrainLoop, d).detach();
    std::unique_lock<std::mutex> lock(d->startLock);
    d->started.wait(lock, [&d] { return d->state != 0; });
    if (d->state != 1) return nullptr;
    lock.unlock();
    return std::make_unique<Win32Participant>(std::move(d));
}

bool BusBroadcast(const BusMessage& message, bool) {
    return PostMessageA(HWND_BROADCAST, message.number, static_cast<WPARAM>(message.wParam),
                        static_cast<LPARAM>(message.lParam)) != 0;
}

bool BusUsable(std::string* why) {
    HWND probe = MakeWindow();
    if (probe != nullptr) {
        DestroyWindow(probe);
        if (why != nullptr) why->clear();
        return true;
    }
    if (why != nullptr) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "no window for the message bus can be made (error %lu); under Wine "
                      "without a display, use Wine's null graphics driver",
                      static_cast<unsigned long>(GetLastError()));
        *why = text;
    }
    return false;
}

bool BusHasProcess(uint32_t pid) {
    if (pid == 0) return false;
    for (HWND w = FindWindowExA(nullptr, nullptr, kClassName, nullptr); w != nullptr;
         w = FindWindowExA(nullptr, w, kClassName, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid) return true;
    }
    return false;
}

}  // namespace vorin::platform
