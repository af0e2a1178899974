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
    std::atomic<bool> rawActive{false};
};
SavedTerminal gSaved;

const int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction gPrevious[sizeof(kTerminatingSignals) / sizeof(int)];
struct sigaction gPreviousTstp;
bool gHandlersInstalled = false;
bool gAtexitRegistered = false;

void RestoreTerminalNow() {
    if (gSaved.rawActive.exchange(false)) {
        tcsetattr(gSaved.fd, TCSANOW, &gSaved.original);
    }
}

void OnTerminatingSignal(int sig) {
    // Only async-signal-safe calls here: tcsetattr, write, signal, raise.
    const int savedErrno = errno;
    if (gSaved.rawActive.load()) {
        RestoreTerminalNow();
        static const char kNewLine[] = "\r\n";
        ssize_t ignored = write(STDOUT_FILENO, kNewLine, 2);
        (void)ignored;
    }
    signal(sig, SIG_DFL);
    raise(sig);
    errno = savedErrno;
}

void OnStop(int) {
    const int savedErrno = errno;
    const bool wasRaw = gSaved.rawActive.load();
    if (wasRaw) RestoreTerminalNow();
    // SIGSTOP cannot be blocked: the process stops right here and carries on
    // from this point when it is continued.
    kill(getpid(), SIGSTOP);
    if (wasRaw) {
        tcsetattr(gSaved.fd, TCSANOW, &gSaved.raw);
        gSaved.rawActive.store(true);
    }
    errno = savedErrno;
}

void InstallHandlers() {
    if (gHandlersInstalled) return;
    struct sigaction sa {};
    sa.sa_handler = OnTerminatingSignal;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < sizeof(kTerminatingSignals) / sizeof(int); ++i) {
        sigaction(kTerminatingSignals[i], &sa, &gPrevious[i]);
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, &gPreviousTstp);
    gHandlersInstalled = true;
}

void RemoveHandlers() {
    if (!gHandlersInstalled) return;
    for (std::size_t i = 0; i < sizeof(kTerminatingSignals) / sizeof(int); ++i) {
        sigaction(kTerminatingSignals[i], &gPrevious[i], nullptr);
    }
    sigaction(SIGTSTP, &gPreviousTstp, nullptr);
    gHandlersInstalled = false;
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
    int inFd = STDIN_FILENO;
    int outFd = STDOUT_FILENO;
    bool inTty = false;
    bool outTty = false;
    bool open = false;
    bool inputEnded = false;
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
    s.inTty = isatty(s.inFd) == 1;
    s.outTty = isatty(s.outFd) == 1;
    if (s.inTty) {
        termios t{};
        if (tcgetattr(s.inFd, &t) != 0) {
            if (error)
                *error = std::string("cannot read the terminal settings: ") + std::strerror(errno);
            return false;
        }
        gSaved.fd = s.inFd;
        gSaved.original = t;
        // Key by key, no echo (the dialogue echoes what it accepts), Enter as
        // '\r'; Ctrl+C and Ctrl+Z still act as signals.
        t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN));
        t.c_lflag |= ISIG;
        t.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR | IGNCR | IXON | ISTRIP));
        t.c_oflag |= OPOST | ONLCR;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        gSaved.raw = t;
        InstallHandlers();
        if (!gAtexitRegistered) {
            std::atexit(RestoreAtExit);
            gAtexitRegistered = true;
        }
        if (tcsetattr(s.inFd, TCSANOW, &t) != 0) {
            if (error) *error = std::string("cannot set the terminal up: ") + std::strerror(errno);
            RemoveHandlers();
            return false;
        }
        gSaved.rawActive.store(true);
    }
    s.open = true;
    return true;
}

void Console::Close() {
    State& s = *state_;
    if (!s.open) return;
    s.open = false;
    if (s.inTty && gSaved.rawActive.load()) {
        // Keys typed while the program ran belong to the program, not the shell.
        tcflush(s.inFd, TCIFLUSH);
        RestoreTerminalNow();
    }
    RemoveHandlers();
}

void Console::Clear() {
    State& s = *state_;
    if (s.outTty) {
        static const char kClear[] = "\x1b[H\x1b[2J";
        WriteAll(s.outFd, kClear, sizeof(kClear) - 1);
    }
    s.line.clear();
    s.cursor = 0;
}

void Console::Write(std::string_view text) {
    State& s = *state_;
    TrackOutputLine(s.line, s.cursor, text);
    WriteAll(s.outFd, text.data(), text.size());
}

int Console::ReadKey() {
    State& s = *state_;
    if (s.pushed != kNoKey) {
        const int key = s.pushed;
        s.pushed = kNoKey;
        return key;
    }
    if (s.inputEnded) return kEndOfInput;
    for (;;) {
        unsigned char c = 0;
        const ssize_t n = read(s.inFd, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{s.inFd, POLLIN, 0};
            poll(&p, 1, -1);
            continue;
        }
        // End of file, or EIO from a terminal whose other side went away.
        s.inputEnded = true;
        return kEndOfInput;
    }
}

void Console::PushBack(int key) { state_->pushed = key; }

bool Console::KeyPending() {
    State& s = *state_;
    if (s.pushed != kNoKey) return true;
    if (s.inputEnded) return false;
    pollfd p{s.inFd, POLLIN, 0};
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
    if (s.outTty) {
        char seq[32];
        const int n = std::snprintf(seq, sizeof seq, "\x1b[%dG", column);
        WriteAll(s.outFd, seq, static_cast<std::size_t>(n));
    } else {
        // A log or a pipe: carriage return and the line up to the column, so a
        // reader that honours '\r' sees the line rewritten in place.
        // Appended rather than "\r" + substr(): GCC 12 at -O3 reports a false
        // -Wrestrict overlap inside operator+ on a temporary string.
        std::string redraw(1, '\r');
        redraw.append(s.line, 0, index);
        WriteAll(s.outFd, redraw.data(), redraw.size());
    }
    s.cursor = index;
    if (s.line.size() < index) s.line.resize(index, ' ');
}

}  // namespace vorin::platform
