// The message bus on Windows: broadcast window messages and a hidden
// top-level window per participant.
#include <windows.h>

#include <atomic>

#include "platform/message_bus.h"

namespace vorin::platform {
namespace {

constexpr char kClassName[] = "VorinBusWindow";

bool RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

class Win32Participant final : public BusParticipant {
public:
    Win32Participant(HWND window, HANDLE wake) : window_(window), wake_(wake) {}
    ~Win32Participant() override {
        DestroyWindow(window_);
        CloseHandle(wake_);
    }

    // A broadcast lands once for every top-level window of the thread, and
    // the system gives a thread with a window a default IME window of its
    // own: only the copy addressed to our window counts, the others go.
    bool Take(uint32_t number, BusMessage* out) override {
        MSG msg;
        do {
            if (!PeekMessageA(&msg, nullptr, number, number, PM_REMOVE)) return false;
        } while (msg.hwnd != window_);
        if (out != nullptr) {
            out->number = msg.message;
            out->wParam = static_cast<uint32_t>(msg.wParam);
            out->lParam = static_cast<uint32_t>(msg.lParam);
        }
        return true;
    }

    // WaitMessage that a second thread can end: the same wake-up on new
    // posted input, plus the wake event.
    bool Wait(uint32_t timeoutMs) override {
        DWORD r =
            MsgWaitForMultipleObjectsEx(1, &wake_, timeoutMs == 0xFFFFFFFFu ? INFINITE : timeoutMs,
                                        QS_POSTMESSAGE | QS_SENDMESSAGE, 0);
        return r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1;
    }

    void Wake() override { SetEvent(wake_); }

private:
    HWND window_;
    HANDLE wake_;
};

}  // namespace

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::unique_ptr<BusParticipant> BusParticipant::Open() {
    if (!RegisterClassOnce()) return nullptr;
    // Not message-only (HWND_MESSAGE): those get no broadcasts. Never shown.
    HWND window = CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) return nullptr;
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake == nullptr) {
        DestroyWindow(window);
        return nullptr;
    }
    return std::make_unique<Win32Participant>(window, wake);
}

bool BusBroadcast(const BusMessage& message) {
    return PostMessageA(HWND_BROADCAST, message.number, static_cast<WPARAM>(message.wParam),
                        static_cast<LPARAM>(message.lParam)) != 0;
}

}  // namespace vorin::platform
