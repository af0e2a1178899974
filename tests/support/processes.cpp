#include "tests/support/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/support/files.h"

extern char** environ;

namespace vorin::test {

namespace {

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : extra) all[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : all) out.push_back(k + "=" + v);
    return out;
}

// A child never outlives the test that started it: when ctest kills a test
// on its timeout, the simulator and the loader go with it.
void DieWithTest() { prctl(PR_SET_PDEATHSIG, SIGKILL); }

// Ends a process group: SIGTERM, then SIGKILL after `grace` seconds.
int EndProcess(pid_t pid, double grace) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    const double end = Now() + grace;
    while (Now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

}  // namespace

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string StripEscapes(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\x1b') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < raw.size() && raw[i + 1] == '[') {
            std::size_t j = i + 2;
            while (j < raw.size() && !(raw[j] >= 0x40 && raw[j] <= 0x7e)) ++j;
            // Cursor forward stands for blanks (Wine's console draws trailing
            // blanks that way).
            if (j < raw.size() && raw[j] == 'C') {
                const int n = std::atoi(raw.substr(i + 2, j - i - 2).c_str());
                out.append(static_cast<std::size_t>(n > 0 ? n : 1), ' ');
            }
            i = j;
        } else if (i + 1 < raw.size() && raw[i + 1] == ']') {
            std::size_t j = i + 2;
            while (j < raw.size() && raw[j] != '\x07' && !(raw[j] == '\x1b' && j + 1 < raw.size()))
                ++j;
            i = (j < raw.size() && raw[j] == '\x1b') ? j + 1 : j;
        } else {
            ++i;
        }
    }
    return out;
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(const std::string& program, const std::vector<std::string>& args,
                      const std::string& logPath, std::string* error) {
    Stop();
    logPath_ = logPath;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    // A log left by an earlier run must not be taken for this one's.
    unlink(logPath.c_str());
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        DieWithTest();
        // The first line of standard output names the line; the log goes apart.
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open((logPath + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDONLY);
        if (log >= 0) dup2(log, 1);
        if (err >= 0) dup2(err, 2);
        if (null >= 0) dup2(null, 0);
        auto cargv = CStrings(argv);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    pid_ = pid;
    const double end = Now() + 10;
    while (Now() < end) {
        const std::string log = ReadWholeFile(logPath);
        const std::size_t nl = log.find('\n');
        if (nl != std::string::npos) {
            line_ = log.substr(0, nl);
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *error = "vorin-sim ended at once: " + log + ReadWholeFile(logPath + ".err");
            return false;
        }
        usleep(5000);
    }
    *error = "vorin-sim named no line within 10 s";
    Stop();
    return false;
}

void Simulator::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

bool Simulator::WaitExit(double seconds, int* status) {
    if (pid_ <= 0) return false;
    const double end = Now() + seconds;
    for (;;) {
        int s = 0;
        if (waitpid(pid_, &s, WNOHANG) == pid_) {
            pid_ = -1;
            if (status) *status = s;
            return true;
        }
        if (Now() >= end) return false;
        usleep(5000);
    }
}

std::string Simulator::ErrorLog() const { return ReadWholeFile(logPath_ + ".err"); }

int Simulator::Stop() {
    if (pid_ <= 0) return 0;
    const int status = EndProcess(pid_, 5);
    pid_ = -1;
    return status;
}

TerminalSession::~TerminalSession() { Kill(); }

bool TerminalSession::Start(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& env, std::string* error) {
    Kill();
    raw_.clear();
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = Environment(env);
    winsize size{};
    size.ws_row = 25;
    size.ws_col = 80;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) {
        *error = std::string("forkpty: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        DieWithTest();
        auto cargv = CStrings(args);
        auto cenv = CStrings(environment);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    pid_ = pid;
    master_ = master;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void TerminalSession::Type(const std::string& keys) {
    // One key at a time, as a person types.
    for (const char c : keys) {
        const double end = Now() + 2;
        while (Now() < end) {
            if (write(master_, &c, 1) == 1) break;
            if (errno != EAGAIN && errno != EINTR) return;
            ReadSome(5);
        }
        ReadSome(2);
    }
}

bool TerminalSession::ReadSome(int timeoutMs) {
    if (master_ < 0) return false;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) {
        raw_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // Program gone (EIO): nothing more will come from this side.
        usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
    return false;
}

bool TerminalSession::WaitFor(const std::string& text, double seconds) {
    const double end = Now() + seconds;
    for (;;) {
        if (Text().find(text) != std::string::npos) return true;
        if (Now() >= end) return false;
        ReadSome(20);
    }
}

bool TerminalSession::WaitExit(double seconds, int* status) {
    if (pid_ <= 0) return true;
    const double end = Now() + seconds;
    for (;;) {
        ReadSome(10);
        int s = 0;
        if (waitpid(pid_, &s, WNOHANG) == pid_) {
            while (ReadSome(20)) {}
            pid_ = -1;
            if (status) *status = s;
            return true;
        }
        if (Now() >= end) return false;
    }
}

void TerminalSession::Drain(double seconds) {
    const double end = Now() + seconds;
    while (Now() < end) ReadSome(10);
}

void TerminalSession::Kill() {
    if (pid_ > 0) {
        EndProcess(pid_, 2);
        pid_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

std::string TerminalSession::Text() const {
    // The terminal turns each "\n" into "\r\n"; give the program's own texts back.
    const std::string stripped = StripEscapes(raw_);
    std::string out;
    for (std::size_t i = 0; i < stripped.size(); ++i) {
        if (stripped[i] == '\r') {
            std::size_t j = i;
            while (j < stripped.size() && stripped[j] == '\r') ++j;
            if (j < stripped.size() && stripped[j] == '\n') continue;
        }
        out.push_back(stripped[i]);
    }
    return out;
}

bool TerminalSession::TerminalFlags(unsigned* lflag) const {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) return false;
    *lflag = t.c_lflag;
    return true;
}

int RunPiped(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& input, double seconds, std::string* out, std::string* err) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0) return -1;
    if (pipe(errPipe) != 0) return -1;
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = Environment(env);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        DieWithTest();
        const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        if (in >= 0) dup2(in, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        auto cargv = CStrings(args);
        auto cenv = CStrings(environment);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    const double end = Now() + seconds;
    int openFds = 2;
    int status = -1;
    bool killed = false;
    while (openFds > 0 && Now() < end) {
        if (poll(fds, 2, 20) <= 0) {
            // Ended with nothing left to read: done, even when a process it
            // started holds the pipes open (Wine's services do).
            if (waitpid(pid, &status, WNOHANG) == pid) {
                for (auto& f : fds)
                    if (f.fd >= 0) close(f.fd);
                return status;
            }
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                if (sinks[i]) sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openFds;
            }
        }
    }
    if (openFds > 0) {
        killed = waitpid(pid, &status, WNOHANG) != pid;
        if (!killed) {
            for (auto& f : fds)
                if (f.fd >= 0) close(f.fd);
            return status;
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (killed) {
        EndProcess(pid, 1);
        return -1;
    }
    const double waitEnd = Now() + 5;
    while (Now() < waitEnd) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        usleep(5000);
    }
    EndProcess(pid, 1);
    return -1;
}

pid_t StartQuiet(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env) {
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = Environment(env);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        auto cargv = CStrings(args);
        auto cenv = CStrings(environment);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    return pid;
}

int RunQuiet(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             double seconds) {
    const pid_t pid = StartQuiet(argv, env);
    if (pid < 0) return -1;
    int status = 0;
    for (const double end = Now() + seconds; Now() < end; usleep(20000)) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace vorin::test
