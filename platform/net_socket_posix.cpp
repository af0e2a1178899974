#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/event_posix.h"
#include "platform/net_socket.h"

namespace vorin::platform {

namespace {

class PosixSocket final : public NetSocket {
public:
    explicit PosixSocket(int fd) : fd_(fd) {}
    ~PosixSocket() override { ::close(fd_); }

    int64_t Send(const uint8_t* data, std::size_t count) override {
        for (;;) {
            // MSG_NOSIGNAL: a closed connection is a failed call, not SIGPIPE.
            const ssize_t n = ::send(fd_, data, count, MSG_NOSIGNAL);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }

    int64_t Receive(uint8_t* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, size, 0);
            if (n > 0) return n;
            if (n == 0) return -1;  // the other end closed
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }

    int Wait(bool read, bool write, Event* const* events, std::size_t count,
             uint32_t timeoutMs) override {
        pollfd fds[8];
        if (count > 7) return kWaitFailed;
        for (std::size_t i = 0; i < count; ++i) fds[i] = {EventFd(*events[i]), POLLIN, 0};
        const short want = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
        fds[count] = {want ? fd_ : -1, want, 0};
        const int timeout = timeoutMs == kInfinite ? -1 : static_cast<int>(timeoutMs);
        int r = ::poll(fds, static_cast<nfds_t>(count + 1), timeout);
        if (r < 0 && errno == EINTR) return static_cast<int>(count);  // look again
        if (r < 0) {
            SetLastError(kErrGenFailure);
            return kWaitFailed;
        }
        if (r == 0) return kWaitTimeout;
        for (std::size_t i = 0; i < count; ++i)
            if (fds[i].revents & POLLIN) return static_cast<int>(i);
        return static_cast<int>(count);
    }

private:
    const int fd_;
};

// Connects one address within the time left; the socket or -1.
int ConnectOne(const addrinfo* a, std::chrono::steady_clock::time_point deadline) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) return -1;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, PollTimeout(deadline, false));
        int error = 0;
        socklen_t size = sizeof error;
        if (r <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            ::close(fd);
            return -1;
        }
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

std::unique_ptr<NetSocket> NetSocket::Connect(const std::string& host, uint16_t port,
                                              uint32_t timeoutMs, int32_t& error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    error = kErrConnectRefused;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        SetLastError(error);
        return nullptr;
    }
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next)
        fd = ConnectOne(a, deadline);
    ::freeaddrinfo(found);
    if (fd < 0) {
        SetLastError(error);
        return nullptr;
    }
    error = kErrSuccess;
    return std::make_unique<PosixSocket>(fd);
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace vorin::platform
