// The operator's console: unbuffered output, key-by-key input without echo,
// one key of push-back, a key-pending test and cursor placement on the
// current line.
//
// Windows: the console API on a real console; plain handle I/O when stdin or
// stdout are redirected. POSIX: the terminal in raw mode (termios) with ANSI
// sequences for clearing and cursor placement; plain byte I/O when stdin or
// stdout is not a terminal. On POSIX the terminal settings found at Open are
// put back at Close, at exit, and when a terminating signal (Ctrl+C, hang-up,
// SIGTERM) ends the program; Ctrl+Z puts them back while the program is
// stopped.
//
// One Console at a time per process; all calls from one thread.
#pragma once

#include <string>
#include <string_view>

namespace vorin::platform {

class Console {
public:
    // A key value returned at end of input (closed terminal, end of a pipe).
    static constexpr int kEndOfInput = -1;

    Console();
    ~Console();  // Close()
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Takes over the terminal. False with *error when the console cannot be
    // set up; a redirected stdin/stdout is not an error.
    bool Open(std::string* error);
    // Puts the terminal back as Open found it and drops keys typed but not read,
    // so that they do not spill into the shell. Safe to call more than once.
    void Close();

    // Clears the window and homes the cursor (nothing when output is redirected).
    void Clear();
    // Writes text and flushes it at once. '\n' starts a new line at column 1.
    void Write(std::string_view text);

    // Next key, waiting for it; the pushed-back key first. No echo. Enter is
    // '\r'. kEndOfInput when input has ended.
    int ReadKey();
    // Makes `key` the next key that ReadKey returns (one key deep).
    void PushBack(int key);
    // True when a key can be read without waiting (a pushed-back key counts).
    bool KeyPending();
    // Waits until a key is pending; false when input ended instead.
    bool WaitForKey();

    // Cursor column on the current line, counting from 1.
    int CursorColumn();
    // Moves the cursor to `column` (from 1) on the current line.
    void MoveToColumn(int column);

    struct State;

private:
    State* state_;
};

}  // namespace vorin::platform
