// A connected TCP socket as the network serial device needs it: non-blocking
// sends and receives, and one wait on the socket together with events.
// POSIX sockets in net_socket_posix.cpp, Winsock in net_socket_win32.cpp.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorin::platform {

class Event;

class NetSocket {
public:
    // Connects within `timeoutMs`, with TCP_NODELAY on. Null with a Windows
    // code in `error` (kErrConnectRefused for every way a connect fails).
    static std::unique_ptr<NetSocket> Connect(const std::string& host, uint16_t port,
                                              uint32_t timeoutMs, int32_t& error);
    virtual ~NetSocket() = default;

    // Bytes sent, 0 when the send buffer is full, -1 when the connection is gone.
    virtual int64_t Send(const uint8_t* data, std::size_t count) = 0;
    // Bytes received, 0 when none are waiting, -1 when the connection is gone
    // (closed by the other end or failed).
    virtual int64_t Receive(uint8_t* buffer, std::size_t size) = 0;

    // Waits until one of `events` is signalled (its index, lowest first), the
    // socket may be read (`read`) or written (`write`) (returns `count`), or
    // `timeoutMs` passed (kWaitTimeout). The socket may also be reported ready
    // when it is not: the caller tries and waits again.
    virtual int Wait(bool read, bool write, Event* const* events, std::size_t count,
                     uint32_t timeoutMs) = 0;

protected:
    NetSocket() = default;
};

// Sets an environment variable of this process (seen by std::getenv).
bool SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace vorin::platform
