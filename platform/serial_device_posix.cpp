// The serial device on a POSIX tty.
//
// Windows semantics are kept where the library relies on them: the port is
// opened for one user only (flock + TIOCEXCL), a transfer is bounded by the
// stored COMMTIMEOUTS-like values, and a transfer waits in one poll() on the
// tty, the caller's cancel event and this device's abort event, so a purge
// with abort flags, a cancel or a close ends it at once.
//
// A write counts as done only once its bytes have left the driver's output
// queue (TIOCOUTQ), within the write timeout; what is still queued when that
// ends is dropped. So ClearPort never discards a byte that was reported sent,
// and a line that CTS holds ends the write with a write timeout, as on
// Windows. (A pseudo-terminal has no output queue: there a write is done at
// once.) The size TIOCOUTQ reports never sets the pause between looks: some
// drivers (cdc-acm, the CH34x vendor drivers) report their whole in-flight
// USB buffer while one byte is out.
//
// CTS flow control is done here, not by the kernel: with CRTSCTS Linux also
// drives RTS (and FTDI and CH34x chips drive it themselves), while the
// library's callers own RTS (a multiplexer's channel is chosen with DTR and
// RTS, as with RTS_CONTROL_DISABLE on Windows). So a write waits for CTS
// before its byte goes to the driver.
//
// Known limits, documented for users: comm events are found by sampling the
// modem lines and the line error counters every 50 ms (a pseudo-terminal has
// neither, so it never reports an event); the buffer sizes are the kernel's
// own.
#include "platform/serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/event_posix.h"
#include "platform/net_port.h"
#include "platform/posix_errno.h"

namespace vorin::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct BaudCode {
    uint32_t baud;
    speed_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

// Sets a transfer's "waiting for completion" flag for as long as it lives.
class WaitFlag {
public:
    explicit WaitFlag(std::atomic<uint8_t>* flag) : flag_(flag) {
        if (flag_) flag_->store(1);
    }
    ~WaitFlag() {
        if (flag_) flag_->store(0);
    }
    WaitFlag(const WaitFlag&) = delete;
    WaitFlag& operator=(const WaitFlag&) = delete;

private:
    std::atomic<uint8_t>* flag_;
};

bool IsPtySlave(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;  // Unix98 pty slaves
}

// Opens and locks the tty; -1 with the Windows code in `error`.
int OpenExclusive(uint8_t port, int32_t& error) {
    std::string path = SerialDevice::DeviceName(port);
    if (path.empty()) {
        error = kErrFileNotFound;
        SetLastError(error);
        return -1;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = FailWithErrno();
        return -1;
    }
    // flock refuses a second holder even for root, which TIOCEXCL does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = FailWithErrno();
        ::close(fd);
        return -1;
    }
    error = kErrSuccess;
    return fd;
}

class PosixSerialDevice final : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd), pty_(IsPtySlave(fd)) {
        ::ioctl(fd_, TIOCEXCL);
        termios t{};
        if (::tcgetattr(fd_, &t) == 0) {
            ::cfmakeraw(&t);
            t.c_cflag |= CLOCAL | CREAD;
            // VMIN 1 with O_NONBLOCK: no data reads as EAGAIN, and 0 means
            // end of file only (VMIN 0 would make "no data" read as 0 too).
            t.c_cc[VMIN] = 1;
            t.c_cc[VTIME] = 0;
            ::tcsetattr(fd_, TCSANOW, &t);
        }
        abortTx_ = Event::Create(false);
        abortRx_ = Event::Create(false);
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
            lastCount_ = ic;
            haveCounts_ = true;
        }
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
            lastLines_ = lines;
            haveLines_ = true;
        }
    }
    ~PosixSerialDevice() override {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool Ok() const { return abortTx_ && abortRx_; }

    bool IsCharacterDevice() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            FailWithErrno();
            return false;
        }
        return S_ISCHR(st.st_mode);
    }

    int32_t GetLineSettings(LineSettings& out) override {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return FailWithErrno();
        out = LineSettings{};
        speed_t code = ::cfgetospeed(&t);
        for (const auto& b : kBauds)
            if (b.code == code) out.baudRate = b.baud;
        if (t.c_cflag & PARENB) {
            if (t.c_cflag & CMSPAR)
                out.parity = (t.c_cflag & PARODD) ? 3 : 4;
            else
                out.parity = (t.c_cflag & PARODD) ? 1 : 2;
        }
        out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
        switch (t.c_cflag & CSIZE) {
        case CS5: out.byteSize = 5; break;
        case CS6: out.byteSize = 6; break;
        case CS7: out.byteSize = 7; break;
        default: out.byteSize = 8; break;
        }
        out.outxCtsFlow = ctsFlow_.load();
        out.outX = (t.c_iflag & IXON) != 0;
        out.inX = (t.c_iflag & IXOFF) != 0;
        out.abortOnError = abortOnError_;
        return kErrSuccess;
    }

    int32_t SetLineSettings(const LineSettings& s) override {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return FailWithErrno();
        speed_t code = 0;
        bool found = false;
        for (const auto& b : kBauds)
            if (b.baud == s.baudRate) {
                code = b.code;
                found = true;
            }
        if (!found || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2) {
            SetLastError(kErrInvalidParameter);
            return kErrInvalidParameter;
        }
        ::cfsetispeed(&t, code);
        ::cfsetospeed(&t, code);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        t.c_cflag |= CLOCAL | CREAD;
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= kSizes[s.byteSize - 5];
        switch (s.parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (s.stopBits != 0) t.c_cflag |= CSTOPB;  // one and a half is two here
        t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        if (s.outX) t.c_iflag |= IXON;
        if (s.inX) t.c_iflag |= IXOFF;
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            int e = errno;
            // A pseudo-terminal drops the parity bits, and glibc then reports
            // a request that changed nothing else as failed. The line itself
            // is as asked in every other respect: accept it.
            termios now{};
            if (!(pty_ && e == EINVAL && ::tcgetattr(fd_, &now) == 0 && SameIgnoringParity(now, t)))
                return FailWithErrno(e);
        }
        abortOnError_ = s.abortOnError;
        ctsFlow_.store(s.outxCtsFlow);
        // Start, data, parity and stop bits of one character on the wire.
        const uint64_t bits = 1u + s.byteSize + (s.parity != 0 ? 1u : 0u) + (s.stopBits ? 2u : 1u);
        charTimeNs_.store(bits * 1000000000u / s.baudRate);
        if (s.dtrControl == 0) ModemBits(TIOCMBIC, TIOCM_DTR);
        if (s.rtsControl == 0) ModemBits(TIOCMBIC, TIOCM_RTS);
        SetLastError(kErrSuccess);
        return kErrSuccess;
    }

    int32_t SetBufferSizes(uint32_t, uint32_t) override { return kErrSuccess; }

    int32_t GetTimeouts(CommTimeouts& out) override {
        std::lock_guard lock(mutex_);
        out = timeouts_;
        return kErrSuccess;
    }
    int32_t SetTimeouts(const CommTimeouts& t) override {
        std::lock_guard lock(mutex_);
        timeouts_ = t;
        return kErrSuccess;
    }

    int32_t Purge(uint32_t flags) override {
        if (flags & kPurgeTxAbort) {
            txAbortGen_.fetch_add(1);
            abortTx_->Set();
        }
        if (flags & kPurgeRxAbort) {
            rxAbortGen_.fetch_add(1);
            abortRx_->Set();
        }
        int which = -1;
        if ((flags & kPurgeTxClear) && (flags & kPurgeRxClear))
            which = TCIOFLUSH;
        else if (flags & kPurgeTxClear)
            which = TCOFLUSH;
        else if (flags & kPurgeRxClear)
            which = TCIFLUSH;
        if (which >= 0 && ::tcflush(fd_, which) != 0) return FailWithErrno();
        return kErrSuccess;
    }

    int32_t SetCommMask(uint32_t mask) override {
        commMask_.store(mask);
        return kErrSuccess;
    }

    int32_t Escape(LineControl what) override {
        switch (what) {
        case LineControl::SetDtr: return ModemBits(TIOCMBIS, TIOCM_DTR);
        case LineControl::ClearDtr: return ModemBits(TIOCMBIC, TIOCM_DTR);
        case LineControl::SetRts: return ModemBits(TIOCMBIS, TIOCM_RTS);
        case LineControl::ClearRts: return ModemBits(TIOCMBIC, TIOCM_RTS);
        case LineControl::SetBreak:
            return ::ioctl(fd_, TIOCSBRK) == 0 ? kErrSuccess : FailWithErrno();
        case LineControl::ClearBreak:
            return ::ioctl(fd_, TIOCCBRK) == 0 ? kErrSuccess : FailWithErrno();
        }
        return kErrInvalidParameter;
    }

    int32_t GetModemStatus(uint32_t& ms) override {
        int lines = 0;
        ms = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) != 0) return FailWithErrno();
        if (lines & TIOCM_CTS) ms |= kMsCts;
        if (lines & TIOCM_DSR) ms |= kMsDsr;
        if (lines & TIOCM_RI) ms |= kMsRing;
        if (lines & TIOCM_CD) ms |= kMsRlsd;
        return kErrSuccess;
    }

    int32_t ClearErrors(uint32_t& ce) override {
        std::lock_guard lock(mutex_);
        SampleCounters();
        ce = pendingErrors_;
        pendingErrors_ = 0;
        return kErrSuccess;
    }

    bool TransmitEmpty() override {
        int queued = 0;
        return ::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued == 0;
    }

    TransferResult Write(const uint8_t* data, uint32_t count, Event* cancel,
                         std::atomic<uint8_t>* waiting) override {
        CommTimeouts t;
        GetTimeouts(t);
        const uint64_t limit = uint64_t(t.writeTotalMultiplier) * count + t.writeTotalConstant;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
        const uint64_t gen = txAbortGen_.load();
        abortTx_->Reset();
        if (ctsFlow_.load()) {
            WaitFlag flag(waiting);
            int32_t error = 0;
            switch (AwaitLine([&] { return ClearToSend(error); }, deadline, limit == 0, cancel, gen,
                              error)) {
            case Look::Ready: break;
            case Look::TimedOut: return {TransferOutcome::Completed, 0, 0};
            case Look::Cancelled: return {TransferOutcome::Cancelled, 0, kErrOperationAborted};
            case Look::Aborted: return {TransferOutcome::CompletionFailed, 0, kErrOperationAborted};
            case Look::WaitFailed: return {TransferOutcome::WaitFailed, 0, error};
            case Look::Failed: return {TransferOutcome::Failed, 0, error};
            }
        }
        uint32_t done = 0;
        ssize_t n = ::write(fd_, data, count);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return {TransferOutcome::Failed, 0, FailWithErrno()};
        if (n > 0) done = static_cast<uint32_t>(n);
        TransferResult r{TransferOutcome::CompletedAtOnce, done, 0};
        if (done != count)
            r = Pending(
                POLLOUT, limit, limit == 0, cancel, *abortTx_, txAbortGen_, gen, waiting, done,
                [&]() -> ssize_t { return ::write(fd_, data + done, count - done); }, count);
        return AwaitSent(r, count, deadline, limit == 0, cancel, gen, waiting);
    }

    TransferResult Read(uint8_t* data, uint32_t count, Event* cancel,
                        std::atomic<uint8_t>* waiting) override {
        CommTimeouts t;
        GetTimeouts(t);
        const uint64_t gen = rxAbortGen_.load();
        abortRx_->Reset();
        uint32_t done = 0;
        ssize_t n = ::read(fd_, data, count);
        if (n == 0 && count > 0) return LineGone(TransferOutcome::Failed, 0);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return {TransferOutcome::Failed, 0, FailWithErrno()};
        if (n > 0) done = static_cast<uint32_t>(n);
        const bool returnAtOnce =
            t.readInterval == kMaxDword && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
        if (done == count || returnAtOnce) return {TransferOutcome::CompletedAtOnce, done, 0};

        const uint64_t limit = uint64_t(t.readTotalMultiplier) * count + t.readTotalConstant;
        const bool infinite = t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
        return Pending(
            POLLIN, limit, infinite, cancel, *abortRx_, rxAbortGen_, gen, waiting, done,
            [&]() -> ssize_t { return ::read(fd_, data + done, count - done); }, count);
    }

    CommEventResult WaitCommEvent(Event& stop) override {
        pollfd p{EventFd(stop), POLLIN, 0};
        for (;;) {
            const bool sampling = haveCounts_ || haveLines_;
            int r = ::poll(&p, 1, sampling ? 50 : -1);
            if (r < 0 && errno != EINTR) return {CommEventOutcome::Failed, 0, FailWithErrno()};
            if (r > 0) return {CommEventOutcome::Stopped, 0, 0};
            uint32_t fired = 0;
            {
                std::lock_guard lock(mutex_);
                fired = SampleCounters() | SampleLines();
            }
            fired &= commMask_.load();
            if (fired) return {CommEventOutcome::Fired, fired, 0};
        }
    }

private:
    static bool SameIgnoringParity(const termios& a, const termios& b) {
        const tcflag_t ignore = PARENB | PARODD | CMSPAR;
        return (a.c_cflag & ~ignore) == (b.c_cflag & ~ignore) &&
               ::cfgetospeed(&a) == ::cfgetospeed(&b) && a.c_iflag == b.c_iflag;
    }

    int32_t ModemBits(unsigned long request, int bits) {
        return ::ioctl(fd_, request, &bits) == 0 ? kErrSuccess : FailWithErrno();
    }

    // Line errors counted by the driver since the last look, as CE_ bits.
    // Called with mutex_ held.
    uint32_t SampleCounters() {
        if (!haveCounts_) return 0;
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return 0;
        uint32_t ce = 0;
        if (ic.frame != lastCount_.frame) ce |= kCeFrame;
        if (ic.parity != lastCount_.parity) ce |= kCeRxParity;
        if (ic.overrun != lastCount_.overrun) ce |= kCeOverrun;
        if (ic.buf_overrun != lastCount_.buf_overrun) ce |= kCeRxOver;
        if (ic.brk != lastCount_.brk) ce |= kCeBreak;
        lastCount_ = ic;
        pendingErrors_ |= ce;
        uint32_t ev = 0;
        if (ce & ~kCeBreak) ev |= kEvErr;
        if (ce & kCeBreak) ev |= kEvBreak;
        return ev;
    }

    uint32_t SampleLines() {
        if (!haveLines_) return 0;
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) != 0) return 0;
        int changed = lines ^ lastLines_;
        lastLines_ = lines;
        uint32_t ev = 0;
        if (changed & TIOCM_CTS) ev |= kEvCts;
        if (changed & TIOCM_DSR) ev |= kEvDsr;
        if (changed & TIOCM_RI) ev |= kEvRing;
        if (changed & TIOCM_CD) ev |= kEvRlsd;
        return ev;
    }

    // 1 when the look found what the caller waits for, 0 not yet, -1 the
    // look failed (`error` says why). A device that cannot answer at all
    // (ENOTTY, EINVAL: no such request) has nothing to wait for.
    static int LookFailed(int32_t& error) {
        if (errno == ENOTTY || errno == EINVAL) return 1;
        error = FailWithErrno();
        return -1;
    }

    // Bytes written but not yet sent, in `queued`.
    int Drained(uint32_t& queued, int32_t& error) {
        int n = 0;
        if (::ioctl(fd_, TIOCOUTQ, &n) != 0) {
            queued = 0;
            return LookFailed(error);
        }
        queued = n > 0 ? static_cast<uint32_t>(n) : 0;
        return queued == 0 ? 1 : 0;
    }

    int ClearToSend(int32_t& error) {
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) != 0) return LookFailed(error);
        return (lines & TIOCM_CTS) != 0 ? 1 : 0;
    }

    enum class Look { Ready, TimedOut, Cancelled, Aborted, WaitFailed, Failed };

    // Looks at the line until `ready` says so (see LookFailed), the write's
    // deadline passes, the cancel event or an aborting purge comes. Between
    // looks it pauses one character time while a byte may still be on its
    // way, then (a line held back) twice as long each time up to
    // kLongestPause, so that a held write costs little CPU however long it
    // waits.
    template <class Ready>
    Look AwaitLine(Ready ready, Clock::time_point deadline, bool infinite, Event* cancel,
                   uint64_t gen, int32_t& error) {
        using std::chrono::nanoseconds;
        static constexpr nanoseconds kBrisk = std::chrono::milliseconds(2);
        static constexpr nanoseconds kLongestPause = std::chrono::milliseconds(10);
        const nanoseconds charTime{charTimeNs_.load()};
        const auto brisk = std::max(kBrisk, 4 * charTime);
        nanoseconds pause = std::max<nanoseconds>(charTime, std::chrono::microseconds(50));
        pollfd fds[2] = {{EventFd(*abortTx_), POLLIN, 0}, {-1, POLLIN, 0}};
        if (cancel) fds[1].fd = EventFd(*cancel);
        const auto start = Clock::now();
        for (;;) {
            const int r = ready();
            if (r > 0) return Look::Ready;
            if (r < 0) return Look::Failed;
            const auto now = Clock::now();
            if (!infinite && now >= deadline) return Look::TimedOut;
            if (now - start >= brisk)
                pause = std::min(2 * pause, std::max(kLongestPause, charTime));
            const nanoseconds wait =
                infinite ? pause : std::min<nanoseconds>(pause, deadline - now);
            const timespec ts{static_cast<time_t>(wait.count() / 1000000000),
                              static_cast<long>(wait.count() % 1000000000)};
            const int p = ::ppoll(fds, cancel ? 2 : 1, &ts, nullptr);
            if (p < 0 && errno != EINTR) {
                error = FailWithErrno();
                return Look::WaitFailed;
            }
            if (txAbortGen_.load() != gen) return Look::Aborted;
            if (p > 0 && (fds[0].revents & POLLIN)) abortTx_->Reset();  // an earlier abort's
            if (p > 0 && cancel && (fds[1].revents & POLLIN)) return Look::Cancelled;
        }
    }

    // The end of a write: it is done once its bytes have left the output
    // queue. A whole write waits for that until `deadline`, a cancel or an
    // aborting purge; whatever is still queued then is dropped and not
    // counted, so no byte reported as unsent goes out later and none reported
    // as sent is still waiting to be discarded. A queue that cannot be read
    // any more (an adapter pulled out) sent nothing.
    TransferResult AwaitSent(TransferResult r, uint32_t count, Clock::time_point deadline,
                             bool infinite, Event* cancel, uint64_t gen,
                             std::atomic<uint8_t>* waiting) {
        if (r.bytes == 0) return r;
        uint32_t queued = 0;
        int32_t error = 0;
        const int first = Drained(queued, error);
        if (first > 0) return r;
        if (first < 0) return {TransferOutcome::CompletionFailed, 0, error};
        const bool whole = (r.outcome == TransferOutcome::CompletedAtOnce ||
                            r.outcome == TransferOutcome::Completed) &&
                           r.bytes == count;
        if (whole) {
            WaitFlag flag(waiting);
            r.outcome = TransferOutcome::Completed;
            switch (AwaitLine([&] { return Drained(queued, error); }, deadline, infinite, cancel,
                              gen, error)) {
            case Look::Ready: return r;
            case Look::TimedOut: break;  // the write timeout expired
            case Look::Cancelled:
                r = {TransferOutcome::Cancelled, r.bytes, kErrOperationAborted};
                break;
            case Look::Aborted:
                r = {TransferOutcome::CompletionFailed, r.bytes, kErrOperationAborted};
                break;
            case Look::WaitFailed: r = {TransferOutcome::WaitFailed, r.bytes, error}; break;
            case Look::Failed: return {TransferOutcome::CompletionFailed, 0, error};
            }
        }
        ::tcflush(fd_, TCOFLUSH);
        r.bytes -= std::min(queued, r.bytes);
        return r;
    }

    TransferResult LineGone(TransferOutcome outcome, uint32_t done) {
        // End of file on a tty: the other end hung up or the adapter was
        // pulled. Never "no byte yet", or a caller would spin on it.
        SetLastError(kErrGenFailure);
        return {outcome, done, kErrGenFailure};
    }

    template <class Step>
    TransferResult Pending(short direction, uint64_t limitMs, bool infinite, Event* cancel,
                           Event& abort, std::atomic<uint64_t>& abortGen, uint64_t gen,
                           std::atomic<uint8_t>* waiting, uint32_t& done, Step step,
                           uint32_t count) {
        WaitFlag flag(waiting);

        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        pollfd fds[3] = {{fd_, direction, 0}, {EventFd(abort), POLLIN, 0}, {-1, POLLIN, 0}};
        nfds_t nfds = 2;
        if (cancel) {
            fds[2].fd = EventFd(*cancel);
            nfds = 3;
        }
        for (;;) {
            if (abortGen.load() != gen)
                return {TransferOutcome::CompletionFailed, done, kErrOperationAborted};
            int r = ::poll(fds, nfds, PollTimeout(deadline, infinite));
            if (r < 0) {
                if (errno == EINTR) continue;
                return {TransferOutcome::WaitFailed, done, FailWithErrno()};
            }
            if (r == 0) return {TransferOutcome::Completed, done, 0};  // the comm timeout expired
            if (nfds == 3 && (fds[2].revents & POLLIN))
                return {TransferOutcome::Cancelled, done, kErrOperationAborted};
            if (fds[1].revents & POLLIN) {
                if (abortGen.load() != gen)
                    return {TransferOutcome::CompletionFailed, done, kErrOperationAborted};
                abort.Reset();  // an abort meant for an earlier transfer
                continue;
            }
            if (fds[0].revents & (direction | POLLHUP | POLLERR)) {
                ssize_t n = step();
                if (n > 0) {
                    done += static_cast<uint32_t>(n);
                    if (done == count) return {TransferOutcome::Completed, done, 0};
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    return LineGone(TransferOutcome::CompletionFailed, done);
                }
            }
            if (fds[0].revents & POLLNVAL)
                return {TransferOutcome::CompletionFailed, done, kErrInvalidHandle};
        }
    }

    const int fd_;
    const bool pty_;
    std::unique_ptr<Event> abortTx_;
    std::unique_ptr<Event> abortRx_;
    std::atomic<uint64_t> txAbortGen_{0};
    std::atomic<uint64_t> rxAbortGen_{0};
    std::atomic<uint32_t> commMask_{0};
    std::atomic<uint64_t> charTimeNs_{uint64_t{1000000000} * 10 / 9600};  // until the line is set
    bool abortOnError_ = false;
    std::atomic<bool> ctsFlow_{false};

    std::mutex mutex_;  // timeouts and counters: set by the caller, read by the workers
    CommTimeouts timeouts_;
    serial_icounter_struct lastCount_{};
    bool haveCounts_ = false;
    int lastLines_ = 0;
    bool haveLines_ = false;
    uint32_t pendingErrors_ = 0;
};

}  // namespace

std::string SerialDevice::DeviceName(uint8_t port) {
    std::string var = "VORIN_COM" + std::to_string(port);
    if (const char* path = std::getenv(var.c_str()); path && *path) return path;
    if (port == 0) return {};
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::unique_ptr<SerialDevice> SerialDevice::Open(uint8_t port, int32_t& error) {
    if (auto url = NetworkPortOf(port)) return OpenNetworkPort(*url, error);
    int fd = OpenExclusive(port, error);
    if (fd < 0) return nullptr;
    auto device = std::make_unique<PosixSerialDevice>(fd);
    if (!device->Ok()) {
        error = LastError() ? LastError() : kErrNotEnoughMemory;
        return nullptr;
    }
    SetLastError(kErrSuccess);
    return device;
}

bool SerialDevice::Present(uint8_t port) {
    if (auto url = NetworkPortOf(port)) return NetworkPortPresent(*url);
    int32_t error = 0;
    int fd = OpenExclusive(port, error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vorin::platform
