// The message bus on Windows: broadcast window messages and a hidden
// top-level window per participant, owned by the participant's drain thread.
#include <windows.h>

#include <condition_variable>
#include <memory>
#include <cstdio>
#include <mutex>

#include "platform/bus_queue.h"
#include "platform/message_bus.h"
#include "platform/thread.h"

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

class Win32Participant final : public BusParticipant {
public:
    explicit Win32Participant(BusKeep keep) : queue_(keep, kQueueLimit) {}
    // Thread::Join waits for the body only, and not at all for a thread the
    // system has ended: safe also in a DLL's teardown under the loader lock.
    ~Win32Participant() override {
        if (drain_) {
            SetEvent(stop_);
            drain_->Join();
        }
        if (stop_ != nullptr) CloseHandle(stop_);
    }

    // The window is made on the drain thread, which owns it from then on.
    bool Start() {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (stop_ == nullptr) return false;
        drain_ = Thread::Start([this] { DrainLoop(); }, ThreadPriority::Normal);
        if (!drain_) return false;
        std::unique_lock<std::mutex> lock(startLock_);
        started_.wait(lock, [this] { return state_ != 0; });
        return state_ == 1;
    }

    bool Take(uint32_t number, BusMessage* out) override {
        return queue_.Take(number, out, [this] {
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(window_, kSync, 0, 0, SMTO_NORMAL, 1000, &answer);
        });
    }
    bool Wait(uint32_t timeoutMs) override { return queue_.Wait(timeoutMs); }
    void Wake() override { queue_.Wake(); }
    uint64_t Dropped() const override { return queue_.Dropped(); }

private:
    void Started(int state) {
        std::lock_guard<std::mutex> lock(startLock_);
        state_ = state;
        started_.notify_all();
    }

    void DrainLoop() {
        window_ = MakeWindow();
        if (window_ == nullptr) return Started(-1);
        Started(1);
        for (;;) {
            const DWORD r =
                MsgWaitForMultipleObjectsEx(1, &stop_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (r != WAIT_OBJECT_0 + 1) break;  // stop, or the wait failed
            Pump();
        }
        DestroyWindow(window_);
        queue_.Close();
    }

    // Messages sent to the window are answered inside PeekMessageA. A
    // broadcast also lands on the thread's default IME window: only the copy
    // addressed to ours counts.
    void Pump() {
        queue_.Fill([this](BusMessage* m) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message >= kFirstBusNumber && msg.message <= 0xFFFF) {
                    if (msg.hwnd != window_) continue;
                    *m = BusMessage{msg.message, static_cast<uint32_t>(msg.wParam),
                                    static_cast<uint32_t>(msg.lParam)};
                    return true;
                }
                if (msg.hwnd != nullptr) DispatchMessageA(&msg);
            }
            return false;
        });
    }

    BusQueue queue_;
    HANDLE stop_ = nullptr;
    HWND window_ = nullptr;
    std::unique_ptr<Thread> drain_;
    std::mutex startLock_;
    std::condition_variable started_;
    int state_ = 0;  // 1 running, -1 no window
};

}  // namespace

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::unique_ptr<BusParticipant> BusParticipant::Open(BusKeep keep) {
    auto participant = std::make_unique<Win32Participant>(keep);
    if (!participant->Start()) return nullptr;
    return participant;
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
