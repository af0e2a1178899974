// vorin-sim: a VORIN printer on a pseudo-terminal, for the code page upload.
// Prints the slave device path on the first line of standard output; logs to
// standard error; ends on SIGTERM, SIGINT or SIGHUP (or as the options say)
// and then writes the dump and a summary line.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim/mux_options.h"
#include "sim/printer.h"
#include "sim/pty_line.h"

#ifndef VORIN_VERSION
#define VORIN_VERSION "unknown"
#endif

using namespace vorin::sim;

namespace {

const char kUsage[] =
    "Usage: vorin-sim [options]\n"
    "A VORIN receipt printer on a pseudo-terminal: answers the code page upload\n"
    "(ESC 0x01, ACK, two 130-byte halves, status bytes, CRC-16/ARC) and stores\n"
    "printer blocks 320..463. Prints the slave device path on the first line of\n"
    "standard output and serves until SIGTERM/SIGINT/SIGHUP. Numbers are decimal\n"
    "or 0x hex; BLOCK is a printer block number 320..463 or 'all'.\n"
    "\n"
    "  --link PATH              also make PATH a symlink to the device (removed at exit)\n"
    "  --dump FILE              write the 36,864 received bytes to FILE at exit and after\n"
    "                           each complete upload (blocks never received read 0xFF)\n"
    "  --pace BAUD              hold every byte to its wire time at BAUD, 11 bits a byte\n"
    "                           (8E1), in both directions; 0 (default): no pacing\n"
    "  --gap-timeout MS         drop a request that stalls for MS ms (default 2000)\n"
    "  --exit-when-done         end once all 144 blocks are stored and the host closed\n"
    "                           the line\n"
    "  --printer PROFILE        also answer the device commands (number, type,\n"
    "                           identification, articles, keys, status, display) as\n"
    "                           the printer PROFILE describes (see sim/profiles/)\n"
    "  --dump-keys FILE         with --printer: write the key codes pressed (command\n"
    "                           0xF9), one decimal code a line, after every key and at exit\n"
    "Faults:\n"
    "  --first-answer BYTE      answer BYTE instead of ACK to ESC 0x01 (0x15 = NAK)\n"
    "  --first-answer-at N      ... only to the N-th request (1 = first; default: every)\n"
    "  --status-after-half BYTE answer BYTE instead of 0x00 after a first half\n"
    "  --status-after-half-at BLOCK  ... only for that block (default: every block)\n"
    "  --crc-error BLOCK[:N]    answer 0x01 (checksum error) after the second half of\n"
    "                           BLOCK, the first N times it arrives (default 1)\n"
    "  --verify-error BLOCK[:N] the same with 0x02 (data verification error)\n"
    "  --status-after-block BLOCK:N:BYTE  the same with any status byte; 0 accepts\n"
    "                           without storing; 122 is followed by two 0x00 bytes,\n"
    "                           which a host reads after that status\n"
    "  --silent-after N         once N bytes have been received, send nothing more,\n"
    "                           the answer to byte N included (0: never answer);\n"
    "                           a block is 262 bytes from the host; bytes are still read\n"
    "  --close-after N          after N accepted blocks, close the line as soon as the\n"
    "                           host sends its next byte, and end\n"
    "Output:\n"
    "  --quiet                  only host mistakes and the summary\n"
    "  --verbose                also every acknowledgement and half\n"
    "  --help                   this text\n"
    "  --version                the version\n"
    "\n"
    "Exit status: 0 after a normal end, 1 when the line or a file fails, 2 on a\n"
    "usage error.\n";

struct Options {
    std::string link;
    std::string dump;
    unsigned paceBaud = 0;
    int64_t gapTimeoutMs = 2000;
    bool exitWhenDone = false;
    Verbosity verbosity = Verbosity::Normal;
    Faults faults;
    MuxOptions mux;
    std::string printer;
    std::string dumpKeys;
};

volatile std::sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) { gStopSignal = signal; }

void LogLine(const std::string& line) { std::fprintf(stderr, "vorin-sim: %s\n", line.c_str()); }

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "vorin-sim: %s\nTry 'vorin-sim --help'.\n", message.c_str());
    std::exit(2);
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0' && value <= max;
}

unsigned long long NumberArg(const std::string& option, const std::string& text,
                             unsigned long long max) {
    unsigned long long value = 0;
    if (!ParseNumber(text, max, value))
        UsageError(option + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
    return value;
}

int BlockArg(const std::string& option, const std::string& text) {
    if (text == "all") return BlockStatusRule::kAnyBlock;
    unsigned long long value = 0;
    if (!ParseNumber(text, kLastBlock, value) || value < kFirstBlock)
        UsageError(option + ": '" + text + "' is not a block number from 320 to 463 or 'all'");
    return static_cast<int>(value);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool hasValue = false;
        if (const size_t eq = option.find('=');
            option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            hasValue = true;
        }
        auto arg = [&]() -> std::string {
            if (hasValue) return value;
            if (i + 1 >= argc) UsageError(option + " needs a value");
            return argv[++i];
        };
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kMuxUsage, stdout);
            std::exit(0);
        } else if (option == "--version") {
            std::printf("vorin-sim %s\n", VORIN_VERSION);
            std::exit(0);
        } else if (option == "--link") {
            o.link = arg();
            if (o.link.empty()) UsageError("--link needs a path");
        } else if (option == "--dump") {
            o.dump = arg();
            if (o.dump.empty()) UsageError("--dump needs a file name");
        } else if (option == "--pace") {
            o.paceBaud = static_cast<unsigned>(NumberArg(option, arg(), 4000000));
        } else if (option == "--gap-timeout") {
            o.gapTimeoutMs = static_cast<int64_t>(NumberArg(option, arg(), 3600000));
            if (o.gapTimeoutMs == 0) UsageError("--gap-timeout must be at least 1 ms");
        } else if (option == "--exit-when-done") {
            o.exitWhenDone = true;
        } else if (option == "--first-answer") {
            o.faults.firstAnswer = static_cast<uint8_t>(NumberArg(option, arg(), 255));
        } else if (option == "--first-answer-at") {
            o.faults.firstAnswerAt = NumberArg(option, arg(), UINT32_MAX);
            if (o.faults.firstAnswerAt == 0) UsageError("--first-answer-at counts from 1");
        } else if (option == "--status-after-half") {
            o.faults.halfStatus = static_cast<uint8_t>(NumberArg(option, arg(), 255));
        } else if (option == "--status-after-half-at") {
            o.faults.halfStatusBlock = BlockArg(option, arg());
        } else if (option == "--crc-error" || option == "--verify-error" ||
                   option == "--status-after-block") {
            const bool generic = option == "--status-after-block";
            const std::vector<std::string> parts = Split(arg(), ':');
            if (generic ? parts.size() != 3 : parts.size() > 2)
                UsageError(option + (generic ? " takes BLOCK:N:BYTE" : " takes BLOCK or BLOCK:N"));
            BlockStatusRule rule;
            rule.block = BlockArg(option, parts[0]);
            rule.times =
                parts.size() > 1 ? static_cast<unsigned>(NumberArg(option, parts[1], 1000000)) : 1;
            rule.status = generic
                              ? static_cast<uint8_t>(NumberArg(option, parts[2], 255))
                              : (option == "--crc-error" ? kStatusCrcError : kStatusVerifyError);
            o.faults.blockStatus.push_back(rule);
        } else if (option == "--silent-after") {
            o.faults.silentAfter = NumberArg(option, arg(), UINT64_MAX);
        } else if (option == "--close-after") {
            o.faults.closeAfter = NumberArg(option, arg(), UINT64_MAX);
        } else if (option == "--printer") {
            o.printer = arg();
            if (o.printer.empty()) UsageError("--printer needs a profile file");
        } else if (option == "--dump-keys") {
            o.dumpKeys = arg();
            if (o.dumpKeys.empty()) UsageError("--dump-keys needs a file name");
        } else if (option == "--quiet") {
            o.verbosity = Verbosity::Quiet;
        } else if (option == "--verbose") {
            o.verbosity = Verbosity::Verbose;
        } else if (std::string error; ParseMuxOption(option, arg, o.mux, &error)) {
            if (!error.empty()) UsageError(error);
        } else {
            UsageError("unknown option '" + option + "'");
        }
    }
    if (std::string error; !CheckMuxOptions(o.mux, &error)) UsageError(error);
    if (!o.dumpKeys.empty() && o.printer.empty()) UsageError("--dump-keys needs --printer");
    if (o.faults.firstAnswerAt && !o.faults.firstAnswer)
        UsageError("--first-answer-at needs --first-answer");
    if (o.faults.halfStatusBlock != BlockStatusRule::kAnyBlock && !o.faults.halfStatus)
        UsageError("--status-after-half-at needs --status-after-half");
    return o;
}

int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void SleepUntilNs(int64_t when) {
    timespec t{static_cast<time_t>(when / 1000000000), static_cast<long>(when % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
}

// A pty moves any amount at once; a real line needs 11 bit times for each
// byte (start, 8 data, parity, stop), 10 on the multiplexer's line, which has
// no parity. Each direction has its own clock: a byte counts as received, or
// as sent, only when its wire time is over.
class Pacer {
public:
    Pacer(unsigned baud, unsigned bits) : byteNs_(baud ? bits * 1000000000LL / baud : 0) {}
    bool On() const { return byteNs_ > 0; }
    void Received(int64_t arrivalNs) { rx_ = Wait(rx_, arrivalNs); }
    void BeforeSend() { tx_ = Wait(tx_, NowNs()); }

private:
    int64_t Wait(int64_t clock, int64_t earliest) {
        const int64_t done = (clock > earliest ? clock : earliest) + byteNs_;
        SleepUntilNs(done);
        return done;
    }
    int64_t byteNs_;
    int64_t rx_ = 0;
    int64_t tx_ = 0;
};

// Written aside and renamed, so a reader never sees half an image.
bool WriteDump(const std::string& path, const std::vector<uint8_t>& image) {
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok =
        file && (image.empty() || std::fwrite(image.data(), 1, image.size(), file) == image.size());
    if (file && std::fclose(file) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        LogLine("error: cannot write the dump " + path + ": " + std::strerror(errno));
        std::remove(temporary.c_str());
    }
    return ok;
}

// The same way as the dump: a reader sees the whole list or the one before.
bool WriteKeys(const std::string& path, const std::vector<uint8_t>& keys) {
    std::string text;
    for (uint8_t k : keys) text += std::to_string(k) + "\n";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    return WriteDump(path, bytes);
}

// Replaces a stale symlink; never clobbers anything that is not a symlink.
bool MakeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            LogLine("error: --link " + link + " exists and is not a symlink; not replaced");
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        LogLine("error: cannot make the symlink " + link + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char pointsTo[4096];
    const ssize_t n = readlink(link.c_str(), pointsTo, sizeof pointsTo - 1);
    if (n < 0) return;
    pointsTo[n] = '\0';
    if (target == pointsTo) unlink(link.c_str());  // a newer simulator may own it now
}

class Simulator {
public:
    Simulator(const Options& options, PtyLine& line)
        : options_(options),
          line_(line),
          printer_(options.faults, options.verbosity, LogLine),
          pacer_(options.paceBaud, options.mux.on ? 10 : 11) {
        printer_.gapTimeoutMs = options.gapTimeoutMs;
        if (options.mux.on) {
            mux_.emplace(
                options.mux.faults,
                [this](uint8_t b, int64_t nowMs, std::vector<uint8_t>& out) {
                    printer_.Receive(b, nowMs, out);
                },
                LogLine, options.verbosity >= Verbosity::Verbose);
            mux_->code = options.mux.code;
            mux_->identification = options.mux.identification;
            mux_->gapTimeoutMs = options.gapTimeoutMs;
        }
        if (!options.dump.empty())
            printer_.onUploadComplete = [this] { WriteDump(options_.dump, printer_.Image()); };
    }

    // A profile that does not load is a usage error, reported before the line opens.
    static PrinterProfile ProfileOrExit(const std::string& path) {
        PrinterProfile profile;
        std::string error;
        if (!LoadProfile(path, profile, error)) UsageError("--printer: " + error);
        return profile;
    }
    void AttachDevice(PrinterProfile profile) {
        printer_.AttachDevice(std::move(profile));
        if (!options_.dumpKeys.empty()) {
            printer_.Device()->onKey = [this] {
                WriteKeys(options_.dumpKeys, printer_.Device()->Keys());
            };
            WriteKeys(options_.dumpKeys, {});
        }
    }

    int Run(const sigset_t& unblocked);
    Printer& SimulatedPrinter() { return printer_; }
    // The multiplexer's summary line, empty without --mux.
    std::string MuxSummary() const { return mux_ ? mux_->Summary() : std::string(); }

private:
    enum class Hosts { Same, NewHost, AllGone };
    Hosts TakeHostEvents();
    void Serve();
    void ReadOnce();
    void AfterLastClose();
    void Send(const std::vector<uint8_t>& bytes);
    void LineClosed() {
        printer_.LineClosed();
        if (mux_) mux_->LineClosed();
    }
    void Info(const std::string& text) {
        if (options_.verbosity >= Verbosity::Normal) LogLine(text);
    }

    const Options& options_;
    PtyLine& line_;
    Printer printer_;
    std::optional<Multiplexer> mux_;  // with --mux: in front of the printer
    Pacer pacer_;
    bool stop_ = false;
    bool lineErrorLogged_ = false;
    bool dropLogged_ = false;
};

void Simulator::Send(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    size_t sent = 0;
    if (pacer_.On()) {
        for (uint8_t b : bytes) {
            pacer_.BeforeSend();
            if (line_.Write(&b, 1) == 1) ++sent;
        }
    } else {
        const ssize_t n = line_.Write(bytes.data(), bytes.size());
        sent = n > 0 ? static_cast<size_t>(n) : 0;
    }
    printer_.Statistics().bytesSent += sent;
    if (sent < bytes.size() && !dropLogged_) {
        // A real printer's UART does not wait for a host that stopped reading.
        LogLine("error: the host does not read; answer bytes dropped");
        dropLogged_ = true;
    }
}

// Opens and closes are taken right before every read of the line: a host
// opens before it sends anything, so bytes read after its open was seen
// never feed the request of the host before it.
Simulator::Hosts Simulator::TakeHostEvents() {
    const PtyLine::HostEvents events = line_.TakeHostEvents();
    printer_.Statistics().connections += events.opened;
    if (events.opened) Info("host opened the line");
    if (events.present) {
        // Closed and opened again (the loader's presence test does so): the new
        // host starts afresh. A second opener that closes while another stays
        // changes nothing.
        return events.closed && events.opened ? Hosts::NewHost : Hosts::Same;
    }
    return events.closed ? Hosts::AllGone : Hosts::Same;
}

void Simulator::Serve() {
    switch (TakeHostEvents()) {
    case Hosts::Same: break;
    case Hosts::NewHost: LineClosed(); break;
    case Hosts::AllGone: AfterLastClose(); return;
    }
    ReadOnce();
}

void Simulator::ReadOnce() {
    uint8_t buffer[4096];
    const ssize_t n = line_.Read(buffer, sizeof buffer);
    if (n < 0) {
        if (!lineErrorLogged_)
            LogLine(std::string("error: reading the line: ") + std::strerror(errno));
        lineErrorLogged_ = true;
        SleepUntilNs(NowNs() + 50000000);  // do not spin on a broken line
        return;
    }
    const int64_t arrival = NowNs();
    std::vector<uint8_t> answer;
    for (ssize_t i = 0; i < n; ++i) {
        if (pacer_.On()) pacer_.Received(arrival);
        answer.clear();
        if (mux_)
            mux_->Receive(buffer[i], NowNs() / 1000000, answer);
        else
            printer_.Receive(buffer[i], NowNs() / 1000000, answer);
        if (printer_.CloseRequested()) {
            stop_ = true;
            return;
        }
        Send(answer);
    }
    if (n > 0) printer_.FlushStray();
}

void Simulator::AfterLastClose() {
    // Bytes written just before the close may still be on their way through
    // the pty: take them before the request state is dropped, unless a new
    // host opens meanwhile (its bytes and settings must not be touched).
    // When the old host left between requests (the loader's presence test
    // opens and closes without a word), whatever comes now can only be the new
    // host's: it must be answered, never dropped with the old host's state.
    const bool oldRequestPending = !printer_.Idle();
    bool readSinceClose = false;
    for (int64_t until = NowNs() + 20000000; NowNs() < until && !stop_;) {
        pollfd p[2] = {{line_.WatchFd(), POLLIN, 0}, {line_.MasterFd(), POLLIN, 0}};
        poll(p, 2, 5);
        TakeHostEvents();
        if (line_.HostPresent()) {
            if (oldRequestPending || !readSinceClose) LineClosed();
            return;
        }
        const uint64_t before = printer_.Statistics().bytesReceived;
        ReadOnce();
        readSinceClose = readSinceClose || printer_.Statistics().bytesReceived != before;
    }
    // A host that opened during the last read: keep its line as it is.
    TakeHostEvents();
    if (line_.HostPresent()) {
        if (oldRequestPending) LineClosed();
        return;
    }
    if (stop_) return;
    LineClosed();
    line_.ResetAfterClose();
    dropLogged_ = false;
    Info("host closed the line; line reset to 9600 baud");
    if (options_.exitWhenDone && printer_.Complete()) {
        Info("all blocks stored and the host is gone (--exit-when-done)");
        stop_ = true;
    }
}

int Simulator::Run(const sigset_t& unblocked) {
    while (!stop_ && !gStopSignal) {
        pollfd fds[2] = {{line_.MasterFd(), POLLIN, 0}, {line_.WatchFd(), POLLIN, 0}};
        const int64_t deadlineMs = printer_.Deadline();
        timespec timeout{};
        if (deadlineMs >= 0) {
            const int64_t waitMs = deadlineMs - NowNs() / 1000000;
            timeout.tv_sec = waitMs > 0 ? waitMs / 1000 : 0;
            timeout.tv_nsec = waitMs > 0 ? (waitMs % 1000) * 1000000 : 0;
        }
        const int ready = ppoll(fds, 2, deadlineMs >= 0 ? &timeout : nullptr, &unblocked);
        if (ready < 0) {
            if (errno == EINTR) continue;
            LogLine(std::string("error: poll: ") + std::strerror(errno));
            return 1;
        }
        if (deadlineMs >= 0) printer_.Expire(NowNs() / 1000000);
        if (ready > 0) Serve();
    }
    if (gStopSignal) Info(std::string("stopped by ") + strsignal(gStopSignal));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);

    // The stop signals are only let in while waiting, so a byte is never half
    // handled when the simulator decides to end.
    sigset_t stopSignals, unblocked;
    sigemptyset(&stopSignals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, s);
    sigprocmask(SIG_BLOCK, &stopSignals, &unblocked);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::optional<PrinterProfile> profile;
    if (!options.printer.empty()) profile = Simulator::ProfileOrExit(options.printer);

    PtyLine line;
    std::string error;
    if (!line.Open(error)) {
        LogLine("error: cannot create a pseudo-terminal: " + error);
        return 1;
    }
    if (line.WatchFd() < 0)
        LogLine("warning: cannot watch the device; the line is not reset when a host closes it");
    if (!options.link.empty() && !MakeLink(options.link, line.SlavePath())) return 1;
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    Simulator simulator(options, line);
    if (profile) simulator.AttachDevice(std::move(*profile));
    if (options.verbosity >= Verbosity::Normal) {
        std::string text = "printer ready on " + line.SlavePath();
        if (!options.link.empty()) text += " (link " + options.link + ")";
        if (options.paceBaud) text += ", paced at " + std::to_string(options.paceBaud) + " baud";
        if (options.faults.silentAfter == 0u) text += ", silent (--silent-after 0)";
        if (options.mux.on) text += ", behind a multiplexer (--mux)";
        if (!options.printer.empty()) text += ", printer " + options.printer;
        LogLine(text);
    }
    int status = simulator.Run(unblocked);

    line.Close();
    if (!options.dump.empty() && !WriteDump(options.dump, simulator.SimulatedPrinter().Image()))
        status = 1;
    if (!options.dumpKeys.empty() &&
        !WriteKeys(options.dumpKeys, simulator.SimulatedPrinter().Device()->Keys()))
        status = 1;
    LogLine(simulator.SimulatedPrinter().Summary());
    if (const std::string mux = simulator.MuxSummary(); !mux.empty()) LogLine(mux);
    if (!options.link.empty()) RemoveLink(options.link, line.SlavePath());
    return status;
}
