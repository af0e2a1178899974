// A stand-in for serial adapters that are not here, for tests and
// measurements on a pseudo-terminal (Linux only). It answers some tty ioctls
// itself and passes every other call on to the system:
//
//   TIOCOUTQ  the output queue a driver reports: `outq` bytes for `answers`
//             questions, or for `hold_us` microseconds from the first question
//             after it last read empty (cdc-acm reports its whole in-flight
//             URB space, 1280 bytes or more, while one transfer is out), or
//             for ever (hold_us=-1, a line that CTS holds in the kernel);
//             fail=1 makes it fail with EIO (an adapter pulled out).
//   TIOCMGET, TIOCMBIS, TIOCMBIC  modem lines (a pty has none): with cts=0 or
//             cts=1 set, CTS reads so and DTR/RTS read as last set.
//
// Settings come from VORIN_IOCTL_SHIM ("outq=1280,hold_us=1000") when loaded
// with LD_PRELOAD, or from vorin_ioctl_shim_set() in a program linked with it.
// Limits: it cannot make the pty pace or hold bytes; the bytes a write hands
// to the pty reach the other end at once whatever TIOCOUTQ says.
#include <dlfcn.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<int> gOutq{-1};  // -1: the system answers TIOCOUTQ
std::atomic<long> gAnswers{-1};
std::atomic<long> gHoldUs{0};
std::atomic<bool> gFail{false};
std::atomic<int> gCts{-1};  // -1: the system answers the modem lines
std::atomic<int> gLines{TIOCM_DTR | TIOCM_RTS};
std::atomic<long> gHeldSinceNs{-1};
std::atomic<long> gOutqQuestions{0};
std::atomic<long> gLineQuestions{0};

long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Apply(const char* settings) {
    gOutq = -1;
    gAnswers = -1;
    gHoldUs = 0;
    gFail = false;
    gCts = -1;
    gLines = TIOCM_DTR | TIOCM_RTS;  // as the kernel leaves them at open
    gHeldSinceNs = -1;
    gOutqQuestions = 0;
    gLineQuestions = 0;
    if (settings == nullptr) return;
    std::string s(settings);
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t end = s.find(',', at);
        if (end == std::string::npos) end = s.size();
        const std::string item = s.substr(at, end - at);
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos) {
            const std::string key = item.substr(0, eq);
            const long value = std::strtol(item.c_str() + eq + 1, nullptr, 10);
            if (key == "outq") gOutq = static_cast<int>(value);
            if (key == "answers") gAnswers = value;
            if (key == "hold_us") gHoldUs = value;
            if (key == "fail") gFail = value != 0;
            if (key == "cts") gCts = static_cast<int>(value);
        }
        at = end + 1;
    }
}

struct FromEnvironment {
    FromEnvironment() { Apply(std::getenv("VORIN_IOCTL_SHIM")); }
} gFromEnvironment;

int AnswerOutq(int* queued) {
    gOutqQuestions.fetch_add(1);
    if (gFail.load()) {
        errno = EIO;
        return -1;
    }
    int n = gOutq.load();
    if (gAnswers.load() >= 0) {
        if (gAnswers.fetch_sub(1) <= 0) n = 0;
    } else if (gHoldUs.load() >= 0) {
        long since = gHeldSinceNs.load();
        const long now = NowNs();
        if (since < 0 && gHeldSinceNs.compare_exchange_strong(since, now)) since = now;
        if (now - since >= gHoldUs.load() * 1000) {
            n = 0;
            gHeldSinceNs = -1;
        }
    }
    *queued = n;
    return 0;
}

}  // namespace

extern "C" {

void vorin_ioctl_shim_set(const char* settings) { Apply(settings); }
long vorin_ioctl_shim_outq_questions(void) { return gOutqQuestions.load(); }
long vorin_ioctl_shim_line_questions(void) { return gLineQuestions.load(); }
int vorin_ioctl_shim_lines(void) { return gLines.load(); }

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == TIOCOUTQ && gOutq.load() >= 0) return AnswerOutq(static_cast<int*>(arg));
    if (gCts.load() >= 0 && (request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC)) {
        gLineQuestions.fetch_add(1);
        int* bits = static_cast<int*>(arg);
        if (request == TIOCMBIS) gLines.fetch_or(*bits & (TIOCM_DTR | TIOCM_RTS));
        if (request == TIOCMBIC) gLines.fetch_and(~*bits);
        if (request == TIOCMGET) *bits = gLines.load() | (gCts.load() != 0 ? TIOCM_CTS : 0);
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, void*);
    static const auto system = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return system(fd, request, arg);
}

}  // extern "C"
