// Winsock. The socket's readiness is an event (WSAEventSelect) that one
// WaitForMultipleObjects watches together with the caller's events.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/net_socket.h"

namespace vorin::platform {

namespace win32 {
HANDLE EventHandle(const Event& event);  // event_win32.cpp
}

namespace {

bool Started() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

class WinSocket final : public NetSocket {
public:
    WinSocket(SOCKET s, WSAEVENT ready) : socket_(s), ready_(ready) {}
    ~WinSocket() override {
        ::closesocket(socket_);
        ::WSACloseEvent(ready_);
    }

    int64_t Send(const uint8_t* data, std::size_t count) override {
        const int n = ::send(socket_, reinterpret_cast<const char*>(data),
                             static_cast<int>(count > 0x10000 ? 0x10000 : count), 0);
        if (n != SOCKET_ERROR) return n;
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }

    int64_t Receive(uint8_t* buffer, std::size_t size) override {
        const int n = ::recv(socket_, reinterpret_cast<char*>(buffer),
                             static_cast<int>(size > 0x10000 ? 0x10000 : size), 0);
        if (n > 0) return n;
        if (n == 0) return -1;  // the other end closed
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }

    int Wait(bool read, bool write, Event* const* events, std::size_t count,
             uint32_t timeoutMs) override {
        HANDLE handles[8] = {};
        if (count > 7) return kWaitFailed;
        for (std::size_t i = 0; i < count; ++i) {
            handles[i] = win32::EventHandle(*events[i]);
            if (handles[i] == nullptr) {
                SetLastError(kErrInvalidHandle);
                return kWaitFailed;
            }
        }
        const bool watch = read || write;
        if (watch) handles[count] = ready_;
        // FD_WRITE is told once per blocked send, and another thread's look
        // may have taken it: a writer looks again every 50 ms.
        DWORD timeout = timeoutMs;
        bool capped = false;
        if (write && (timeout == INFINITE || timeout > 50)) {
            timeout = 50;
            capped = true;
        }
        const DWORD n = static_cast<DWORD>(count + (watch ? 1 : 0));
        const DWORD r = ::WaitForMultipleObjects(n, handles, FALSE, timeout);
        if (r < WAIT_OBJECT_0 + count) return static_cast<int>(r - WAIT_OBJECT_0);
        if (watch && r == WAIT_OBJECT_0 + count) {
            WSANETWORKEVENTS happened;
            ::WSAEnumNetworkEvents(socket_, ready_, &happened);  // resets the event
            return static_cast<int>(count);
        }
        if (r == WAIT_TIMEOUT) return capped ? static_cast<int>(count) : kWaitTimeout;
        SetLastError(static_cast<int32_t>(::GetLastError()));
        return kWaitFailed;
    }

private:
    SOCKET socket_;
    WSAEVENT ready_;
};

SOCKET ConnectOne(const ADDRINFOW* a, DWORD deadline) {
    SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            ::closesocket(s);
            return INVALID_SOCKET;
        }
        const DWORD now = ::GetTickCount();
        const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        int error = 0;
        int size = sizeof error;
        if (::select(0, nullptr, &writable, &failed, &tv) <= 0 || !FD_ISSET(s, &writable) ||
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0) {
            ::closesocket(s);
            return INVALID_SOCKET;
        }
    }
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s;
}

std::wstring Wide(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
    return out;
}

}  // namespace

std::unique_ptr<NetSocket> NetSocket::Connect(const std::string& host, uint16_t port,
                                              uint32_t timeoutMs, int32_t& error) {
    error = kErrConnectRefused;
    if (!Started()) {
        SetLastError(error);
        return nullptr;
    }
    const DWORD deadline = ::GetTickCount() + timeoutMs;
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    if (::GetAddrInfoW(Wide(host).c_str(), std::to_wstring(port).c_str(), &hints, &found) != 0) {
        SetLastError(error);
        return nullptr;
    }
    SOCKET s = INVALID_SOCKET;
    for (const ADDRINFOW* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next)
        s = ConnectOne(a, deadline);
    ::FreeAddrInfoW(found);
    if (s == INVALID_SOCKET) {
        SetLastError(error);
        return nullptr;
    }
    WSAEVENT ready = ::WSACreateEvent();
    if (ready == WSA_INVALID_EVENT ||
        ::WSAEventSelect(s, ready, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        if (ready != WSA_INVALID_EVENT) ::WSACloseEvent(ready);
        ::closesocket(s);
        SetLastError(error);
        return nullptr;
    }
    error = kErrSuccess;
    return std::make_unique<WinSocket>(s, ready);
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    return ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

}  // namespace vorin::platform
