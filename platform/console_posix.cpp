#include "platform/console.h"
#include "platform/console_line.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vorin::platform {

namespace {

constexpr int kNoKey = -2;

// What the signal handlers need to put the terminal back. Written before the
// handlers are installed and read-only afterwards, except for the flag.
struct SavedTerminal {
    int fd = -1;
    termios original{};
    termios raw{};
    std::atomic<bool> raw_active{false};
};
SavedTerminal g_saved;

const int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof(kTerminatingSignals) / sizeof(int)];
struct sigaction g_previous_tstp;
bool g_handlers_installed = false;
bool g_atexit_registered = false;

void RestoreTerminalNow() {
    if (g_saved.raw_active.exchange(false)) {
        tcsetattr(g_saved.fd, TCSANOW, &g_saved.original);
    }
}

void OnTerminatingSignal(int sig) {
    // Only async-signal-safe calls here: tcsetattr, write, signal, raise.
    const int saved_errno = errno;
    if (g_saved.raw_active.load()) {
        RestoreTerminalNow();
        static const char kNewLine[] = "\r\n";
        ssize_t ignored = write(STDOUT_FILENO, kNewLine, 2);
        (void)ignored;
    }
    signal(sig, SIG_DFL);
    raise(sig);
    errno = saved_errno;
}

void OnStop(int) {
    const int saved_errno = errno;
    const bool was_raw = g_saved.raw_active.load();
    if (was_raw) RestoreTerminalNow();
    // SIGSTOP cannot be blocked: the process stops right here and carries on
    // from this point when it is continued.
    kill(getpid(), SIGSTOP);
    if (was_raw) {
        tcsetattr(g_saved.fd, TCSANOW, &g_saved.raw);
        g_saved.raw_active.store(true);
    }
    errno = saved_errno;
}

void InstallHandlers() {
    if (g_handlers_installed) return;
    struct sigaction sa {};
    sa.sa_handler = OnTerminatingSignal;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < sizeof(kTerminatingSignals) / sizeof(int); ++i) {
        sigaction(kTerminatingSignals[i], &sa, &g_previous[i]);
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, &g_previous_tstp);
    g_handlers_installed = true;
}

void RemoveHandlers() {
    if (!g_handlers_installed) return;
    for (std::size_t i = 0; i < sizeof(kTerminatingSignals) / sizeof(int); ++i) {
        sigaction(kTerminatingSignals[i], &g_previous[i], nullptr);
    }
    sigaction(SIGTSTP, &g_previous_tstp, nullptr);
    g_handlers_installed = false;
}

void RestoreAtExit() { RestoreTerminalNow(); }

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 1000);
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

struct Console::State {
    int in_fd = STDIN_FILENO;
    int out_fd = STDOUT_FILENO;
    bool in_tty = false;
    bool out_tty = false;
    bool open = false;
    bool input_ended = false;
    int pushed = kNoKey;
    // The current output line as far as this program wrote it, and the cursor's
    // index in it: the column on a terminal we cannot ask cheaply, and the text
    // to rewrite when output is not a terminal.
    std::string line;
    std::size_t cursor = 0;
};

Console::Console() : state_(new State) {}

Console::~Console() {
    Close();
    delete state_;
}

bool Console::Open(std::string* error) {
    State& s = *state_;
    if (s.open) return true;
    s.in_tty = isatty(s.in_fd) == 1;
    s.out_tty = isatty(s.out_fd) == 1;
    if (s.in_tty) {
        termios t{};
        if (tcgetattr(s.in_fd, &t) != 0) {
            if (error)
                *error = std::string("cannot read the terminal settings: ") + std::strerror(errno);
            return false;
        }
        g_saved.fd = s.in_fd;
        g_saved.original = t;
        // Key by key, no echo (the dialogue echoes what it accepts), Enter as
        // '\r'; Ctrl+C and Ctrl+Z still act as signals.
        t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN));
        t.c_lflag |= ISIG;
        t.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR | IGNCR | IXON | ISTRIP));
        t.c_oflag |= OPOST | ONLCR;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        g_saved.raw = t;
        InstallHandlers();
        if (!g_atexit_registered) {
            std::atexit(RestoreAtExit);
            g_atexit_registered = true;
        }
        if (tcsetattr(s.in_fd, TCSANOW, &t) != 0) {
            if (error) *error = std::string("cannot set the terminal up: ") + std::strerror(errno);
            RemoveHandlers();
            return false;
        }
        g_saved.raw_active.store(true);
    }
    s.open = true;
    return true;
}

void Console::Close() {
    State& s = *state_;
    if (!s.open) return;
    s.open = false;
    if (s.in_tty && g_saved.raw_active.load()) {
        // Keys typed while the program ran belong to the program, not the shell.
        tcflush(s.in_fd, TCIFLUSH);
        RestoreTerminalNow();
    }
    RemoveHandlers();
}

void Console::Clear() {
    State& s = *state_;
    if (s.out_tty) {
        static const char kClear[] = "\x1b[H\x1b[2J";
        WriteAll(s.out_fd, kClear, sizeof(kClear) - 1);
    }
    s.line.clear();
    s.cursor = 0;
}

void Console::Write(std::string_view text) {
    State& s = *state_;
    TrackOutputLine(s.line, s.cursor, text);
    WriteAll(s.out_fd, text.data(), text.size());
}

int Console::ReadKey() {
    State& s = *state_;
    if (s.pushed != kNoKey) {
        const int key = s.pushed;
        s.pushed = kNoKey;
        return key;
    }
    if (s.input_ended) return kEndOfInput;
    for (;;) {
        unsigned char c = 0;
        const ssize_t n = read(s.in_fd, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{s.in_fd, POLLIN, 0};
            poll(&p, 1, -1);
            continue;
        }
        // End of file, or EIO from a terminal whose other side went away.
        s.input_ended = true;
        return kEndOfInput;
    }
}

void Console::PushBack(int key) { state_->pushed = key; }

bool Console::KeyPending() {
    State& s = *state_;
    if (s.pushed != kNoKey) return true;
    if (s.input_ended) return false;
    pollfd p{s.in_fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool Console::WaitForKey() {
    // A terminal cannot be peeked: take the key and put it back, so that it
    // stays pending and an ended input is told apart from a key.
    const int key = ReadKey();
    if (key == kEndOfInput) return false;
    PushBack(key);
    return true;
}

int Console::CursorColumn() { return static_cast<int>(state_->cursor) + 1; }

void Console::MoveToColumn(int column) {
    State& s = *state_;
    if (column < 1) column = 1;
    const std::size_t index = static_cast<std::size_t>(column - 1);
    if (s.out_tty) {
        char seq[32];
        const int n = std::snprintf(seq, sizeof seq, "\x1b[%dG", column);
        WriteAll(s.out_fd, seq, static_cast<std::size_t>(n));
    } else {
        // A log or a pipe: carriage return and the line up to the column, so a
        // reader that honours '\r' sees the line rewritten in place.
        // Appended rather than "\r" + substr(): GCC 12 at -O3 reports a false
        // -Wrestrict overlap inside operator+ on a temporary string.
        std::string redraw(1, '\r');
        redraw.append(s.line, 0, index);
        WriteAll(s.out_fd, redraw.data(), redraw.size());
    }
    s.cursor = index;
    if (s.line.size() < index) s.line.resize(index, ' ');
}

}  // namespace vorin::platform
