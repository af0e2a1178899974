// Real processes for the end-to-end tests: the printer simulator on its
// pseudo-terminal, and a program run on a terminal of its own (a pty whose
// master side plays the operator's keyboard and screen). Every wait is
// bounded; whatever is still running at destruction is killed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace vorin::test {

// vorin-sim with the given options; its first output line is the path of the
// line's far end. Standard output goes to `logPath`, standard error (the
// simulator's log) to `logPath` + ".err".
class Simulator {
public:
    ~Simulator();
    // False with *error when it does not start or name its line within 10 s.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& logPath, std::string* error);
    // SIGTERM, then SIGKILL after 5 s; returns the wait status.
    int Stop();
    // Sends `signal` and leaves the rest to WaitExit.
    void Signal(int signal);
    // Waits for the simulator to end; false when it still runs after
    // `seconds`. *status is the wait status.
    bool WaitExit(double seconds, int* status);
    // What the simulator has logged so far.
    std::string ErrorLog() const;
    const std::string& Line() const { return line_; }
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    std::string line_;
    std::string logPath_;
};

// A program on a terminal of its own, 80 x 25.
class TerminalSession {
public:
    ~TerminalSession();
    // Starts argv[0] (a path) with the current environment plus `env`.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               std::string* error);
    // Types keys as they are (Enter is "\r").
    void Type(const std::string& keys);
    // Waits until Text() contains `text`.
    bool WaitFor(const std::string& text, double seconds);
    // Waits for the program to end; false when it is still running after
    // `seconds` (it then keeps running). *status is the wait status.
    bool WaitExit(double seconds, int* status);
    // Reads what arrives for `seconds` (to see that nothing more comes).
    void Drain(double seconds);
    void Kill();

    // Everything written to the terminal, as written.
    const std::string& Raw() const { return raw_; }
    // The same without ANSI escape sequences and with "\r\n" made "\n".
    std::string Text() const;
    // Terminal flags of the line as the program left it (read from the master).
    bool TerminalFlags(unsigned* lflag) const;
    int Master() const { return master_; }

private:
    bool ReadSome(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string raw_;
};

// Runs a program with stdin from `input` (a file path, "" for /dev/null) and
// stdout/stderr into strings, bounded by `seconds`. Returns the wait status,
// or -1 when it had to be killed.
int RunPiped(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& input, double seconds, std::string* out, std::string* err);

// Runs a program with every standard stream on /dev/null, in a session of its
// own, bounded by `seconds`: for tools that start services which outlive them
// and would hold a pipe open (Wine's). The wait status, or -1 when killed.
int RunQuiet(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             double seconds);

// Starts a program in the background the same way and leaves it running; its
// process id, or -1.
pid_t StartQuiet(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env);

std::string StripEscapes(const std::string& raw);
double Now();

}  // namespace vorin::test
