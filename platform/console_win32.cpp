#include "platform/console.h"
#include "platform/console_line.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace vorin::platform {

namespace {

constexpr int kNoKey = -2;

// What the Ctrl+C handler needs to put the console back; it runs on a thread
// of its own, so the flag is atomic and the rest is fixed before it is armed.
HANDLE gIn = INVALID_HANDLE_VALUE;
DWORD gOriginalInMode = 0;
std::atomic<bool> gModeChanged{false};

void RestoreInputMode() {
    if (gModeChanged.exchange(false)) {
        FlushConsoleInputBuffer(gIn);
        SetConsoleMode(gIn, gOriginalInMode);
    }
}

BOOL WINAPI OnControl(DWORD) {
    RestoreInputMode();
    return FALSE;  // the default handler ends the process
}

bool WriteAllFile(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 65536 ? 65536 : static_cast<DWORD>(size);
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool IsKeyChar(const INPUT_RECORD& r) {
    return r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown &&
           r.Event.KeyEvent.uChar.AsciiChar != 0;
}

}  // namespace

struct Console::State {
    HANDLE in = INVALID_HANDLE_VALUE;
    HANDLE out = INVALID_HANDLE_VALUE;
    bool inConsole = false;
    bool outConsole = false;
    bool open = false;
    bool inputEnded = false;
    int pushed = kNoKey;
    int repeats = 0;  // further copies of a held key still to hand out
    int repeatKey = 0;
    std::string line;  // the current output line when output is redirected
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
    s.in = GetStdHandle(STD_INPUT_HANDLE);
    s.out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    s.inConsole = s.in != INVALID_HANDLE_VALUE && s.in != nullptr && GetConsoleMode(s.in, &mode);
    DWORD outMode = 0;
    s.outConsole =
        s.out != INVALID_HANDLE_VALUE && s.out != nullptr && GetConsoleMode(s.out, &outMode);
    if (s.inConsole) {
        gIn = s.in;
        gOriginalInMode = mode;
        // Key by key without the console's own echo or line editing; Ctrl+C
        // stays a signal to the process.
        if (!SetConsoleMode(s.in, ENABLE_PROCESSED_INPUT)) {
            if (error) {
                char text[96];
                std::snprintf(text, sizeof text, "cannot set the console up (error %lu)",
                              static_cast<unsigned long>(GetLastError()));
                *error = text;
            }
            return false;
        }
        gModeChanged.store(true);
        SetConsoleCtrlHandler(OnControl, TRUE);
    }
    s.open = true;
    return true;
}

void Console::Close() {
    State& s = *state_;
    if (!s.open) return;
    s.open = false;
    if (s.inConsole) {
        RestoreInputMode();
        SetConsoleCtrlHandler(OnControl, FALSE);
    }
}

void Console::Clear() {
    State& s = *state_;
    s.line.clear();
    s.cursor = 0;
    if (!s.outConsole) return;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(s.out, &info)) return;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    const COORD home{0, 0};
    DWORD done = 0;
    FillConsoleOutputCharacterA(s.out, ' ', cells, home, &done);
    FillConsoleOutputAttribute(s.out, info.wAttributes, cells, home, &done);
    SetConsoleCursorPosition(s.out, home);
}

void Console::Write(std::string_view text) {
    State& s = *state_;
    TrackOutputLine(s.line, s.cursor, text);
    if (s.outConsole) {
        const char* data = text.data();
        std::size_t size = text.size();
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = size > 4096 ? 4096 : static_cast<DWORD>(size);
            if (!WriteConsoleA(s.out, data, chunk, &written, nullptr) || written == 0) break;
            data += written;
            size -= written;
        }
    } else if (s.out != INVALID_HANDLE_VALUE && s.out != nullptr) {
        WriteAllFile(s.out, text.data(), text.size());
    }
}

int Console::ReadKey() {
    State& s = *state_;
    if (s.pushed != kNoKey) {
        const int key = s.pushed;
        s.pushed = kNoKey;
        return key;
    }
    if (s.repeats > 0) {
        --s.repeats;
        return s.repeatKey;
    }
    if (s.inputEnded) return kEndOfInput;
    if (s.inConsole) {
        for (;;) {
            INPUT_RECORD r;
            DWORD n = 0;
            if (!ReadConsoleInputA(s.in, &r, 1, &n)) {
                s.inputEnded = true;
                return kEndOfInput;
            }
            if (n == 1 && IsKeyChar(r)) {
                const int key = static_cast<unsigned char>(r.Event.KeyEvent.uChar.AsciiChar);
                if (r.Event.KeyEvent.wRepeatCount > 1) {
                    s.repeats = r.Event.KeyEvent.wRepeatCount - 1;
                    s.repeatKey = key;
                }
                return key;
            }
        }
    }
    unsigned char c = 0;
    DWORD n = 0;
    if (s.in == INVALID_HANDLE_VALUE || s.in == nullptr || !ReadFile(s.in, &c, 1, &n, nullptr) ||
        n != 1) {
        s.inputEnded = true;
        return kEndOfInput;
    }
    return c;
}

void Console::PushBack(int key) { state_->pushed = key; }

bool Console::KeyPending() {
    State& s = *state_;
    if (s.pushed != kNoKey || s.repeats > 0) return true;
    if (s.inputEnded) return false;
    if (s.inConsole) {
        for (;;) {
            DWORD count = 0;
            if (!GetNumberOfConsoleInputEvents(s.in, &count) || count == 0) return false;
            INPUT_RECORD r;
            DWORD n = 0;
            if (!PeekConsoleInputA(s.in, &r, 1, &n) || n == 0) return false;
            if (IsKeyChar(r)) return true;
            // Mouse, focus, key-up and bare modifier events are not key presses.
            ReadConsoleInputA(s.in, &r, 1, &n);
        }
    }
    DWORD available = 0;
    if (PeekNamedPipe(s.in, nullptr, 0, nullptr, &available, nullptr)) return available > 0;
    return true;  // a file: reading never waits
}

bool Console::WaitForKey() {
    State& s = *state_;
    if (s.inConsole) {
        for (;;) {
            if (KeyPending()) return true;
            if (s.inputEnded) return false;
            if (WaitForSingleObject(s.in, INFINITE) != WAIT_OBJECT_0) {
                s.inputEnded = true;
                return false;
            }
        }
    }
    const int key = ReadKey();
    if (key == kEndOfInput) return false;
    PushBack(key);
    return true;
}

int Console::CursorColumn() {
    State& s = *state_;
    if (s.outConsole) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(s.out, &info)) return info.dwCursorPosition.X + 1;
    }
    return static_cast<int>(s.cursor) + 1;
}

void Console::MoveToColumn(int column) {
    State& s = *state_;
    if (column < 1) column = 1;
    const std::size_t index = static_cast<std::size_t>(column - 1);
    bool moved = false;
    if (s.outConsole) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(s.out, &info)) {
            COORD at{static_cast<SHORT>(column - 1), info.dwCursorPosition.Y};
            moved = SetConsoleCursorPosition(s.out, at) != 0;
        }
    }
    if (!moved && s.out != INVALID_HANDLE_VALUE && s.out != nullptr) {
        // Appended rather than "\r" + substr(): GCC 12 at -O3 reports a false
        // -Wrestrict overlap inside operator+ on a temporary string.
        std::string redraw(1, '\r');
        redraw.append(s.line, 0, index);
        if (s.outConsole) {
            DWORD written = 0;
            WriteConsoleA(s.out, redraw.data(), static_cast<DWORD>(redraw.size()), &written,
                          nullptr);
        } else {
            WriteAllFile(s.out, redraw.data(), redraw.size());
        }
    }
    s.cursor = index;
    if (s.line.size() < index) s.line.resize(index, ' ');
}

}  // namespace vorin::platform
