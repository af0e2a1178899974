#include "sim/pty_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vorin::sim {

namespace {
std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

bool PtyLine::Open(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return error = Failed("posix_openpt"), false;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return error = Failed("grantpt/unlockpt"), Close(), false;
    char name[PATH_MAX];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        return error = Failed("ptsname"), Close(), false;
    slavePath_ = name;
    // A pty whose last slave closes hangs up: the master then reads EIO and a
    // host that reopens finds data and settings gone. Holding one slave open
    // ourselves keeps the line up; host opens and closes are seen through
    // inotify instead.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return error = Failed(name), Close(), false;
    if (!SetLine9600(&error)) return Close(), false;
    int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return error = Failed("fcntl"), Close(), false;
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && ::inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    return true;
}

void PtyLine::Close() {
    for (int* fd : {&watch_, &slave_, &master_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    hosts_ = 0;
}

// A pty has no baud rate and drops parity, but a host that opens at 38400
// with even parity needs a real change to apply: a request that changes
// nothing but parity is refused on a pty. 9600 makes every open a change.
bool PtyLine::SetLine9600(std::string* error) {
    termios t{};
    // Settings made through the master apply to the slave side.
    if (::tcgetattr(master_, &t) != 0) {
        if (error) *error = Failed("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    if (::tcsetattr(master_, TCSANOW, &t) != 0) {
        if (error) *error = Failed("tcsetattr");
        return false;
    }
    return true;
}

PtyLine::HostEvents PtyLine::TakeHostEvents() {
    HostEvents events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->mask & IN_OPEN) ++events.opened, ++hosts_;
            if (e->mask & IN_CLOSE) ++events.closed, hosts_ = hosts_ > 0 ? hosts_ - 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    events.present = hosts_ > 0;
    return events;
}

void PtyLine::ResetAfterClose() {
    ::tcflush(slave_, TCIFLUSH);
    ::ioctl(slave_, TIOCNXCL);
    SetLine9600(nullptr);
}

ssize_t PtyLine::Read(uint8_t* buffer, size_t size) {
    const ssize_t n = ::read(master_, buffer, size);
    if (n >= 0) return n;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

ssize_t PtyLine::Write(const uint8_t* data, size_t size) {
    const ssize_t n = ::write(master_, data, size);
    if (n >= 0) return n;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

}  // namespace vorin::sim
