// A fresh pseudo-terminal pair per test line: the library opens the slave
// (mapped to a COM number through $VORIN_COM<n>), the test is the master.
#include "platform/test_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/event_posix.h"

namespace vorin::platform {

namespace {

std::atomic<int> gNextPort{200};

class PtyLine final : public TestLine {
public:
    PtyLine(int master, int slave, uint8_t port) : master_(master), slave_(slave), port_(port) {}
    ~PtyLine() override {
        if (master_ >= 0) ::close(master_);
        ::close(slave_);
    }

    uint8_t Port() const override { return port_; }

    bool Send(const std::vector<uint8_t>& bytes) override {
        std::size_t sent = 0;
        while (master_ >= 0 && sent < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                if (::poll(&p, 1, 1000) <= 0) return false;
            } else if (errno != EINTR) {
                return false;
            }
        }
        return master_ >= 0;
    }

    std::vector<uint8_t> Receive(std::size_t count, uint32_t timeoutMs) override {
        std::vector<uint8_t> out;
        if (master_ < 0) return out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t buf[512];
        while (out.size() < count) {
            pollfd p{master_, POLLIN, 0};
            int r = ::poll(&p, 1, PollTimeout(deadline, false));
            if (r <= 0) break;
            ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    void Drain() override {
        if (master_ >= 0) Receive(1 << 20, 0);
    }

    void HangUp() override {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    bool HasModemLines() override { return false; }  // a pseudo-terminal never has them
    bool CanHangUp() override { return true; }

private:
    int master_;
    int slave_;  // kept open so the line survives the library closing its end
    uint8_t port_;
};

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(std::string& why) {
    int master = -1, slave = -1;
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        why = std::string("openpty failed: ") + std::strerror(errno);
        return nullptr;
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    int port = gNextPort.fetch_add(1);
    if (port > 255) gNextPort = port = 200;
    std::string var = "VORIN_COM" + std::to_string(port);
    ::setenv(var.c_str(), ::ptsname(master), 1);
    return std::make_unique<PtyLine>(master, slave, static_cast<uint8_t>(port));
}

}  // namespace vorin::platform
