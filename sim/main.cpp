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
    unsigned pace_baud = 0;
    int64_t gap_timeout_ms = 2000;
    bool exit_when_done = false;
    Verbosity verbosity = Verbosity::kNormal;
    Faults faults;
    MuxOptions mux;
    std::string printer;
    std::string dump_keys;
};

volatile std::sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int signal) { g_stop_signal = signal; }

void log_line(const std::string& line) { std::fprintf(stderr, "vorin-sim: %s\n", line.c_str()); }

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "vorin-sim: %s\nTry 'vorin-sim --help'.\n", message.c_str());
    std::exit(2);
}

bool parse_number(const std::string& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0' && value <= max;
}

unsigned long long number_arg(const std::string& option, const std::string& text,
                              unsigned long long max) {
    unsigned long long value = 0;
    if (!parse_number(text, max, value))
        usage_error(option + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
    return value;
}

int block_arg(const std::string& option, const std::string& text) {
    if (text == "all") return BlockStatusRule::kAnyBlock;
    unsigned long long value = 0;
    if (!parse_number(text, kLastBlock, value) || value < kFirstBlock)
        usage_error(option + ": '" + text + "' is not a block number from 320 to 463 or 'all'");
    return static_cast<int>(value);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool has_value = false;
        if (const size_t eq = option.find('=');
            option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            has_value = true;
        }
        auto arg = [&]() -> std::string {
            if (has_value) return value;
            if (i + 1 >= argc) usage_error(option + " needs a value");
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
            if (o.link.empty()) usage_error("--link needs a path");
        } else if (option == "--dump") {
            o.dump = arg();
            if (o.dump.empty()) usage_error("--dump needs a file name");
        } else if (option == "--pace") {
            o.pace_baud = static_cast<unsigned>(number_arg(option, arg(), 4000000));
        } else if (option == "--gap-timeout") {
            o.gap_timeout_ms = static_cast<int64_t>(number_arg(option, arg(), 3600000));
            if (o.gap_timeout_ms == 0) usage_error("--gap-timeout must be at least 1 ms");
        } else if (option == "--exit-when-done") {
            o.exit_when_done = true;
        } else if (option == "--first-answer") {
            o.faults.first_answer = static_cast<uint8_t>(number_arg(option, arg(), 255));
        } else if (option == "--first-answer-at") {
            o.faults.first_answer_at = number_arg(option, arg(), UINT32_MAX);
            if (o.faults.first_answer_at == 0) usage_error("--first-answer-at counts from 1");
        } else if (option == "--status-after-half") {
            o.faults.half_status = static_cast<uint8_t>(number_arg(option, arg(), 255));
        } else if (option == "--status-after-half-at") {
            o.faults.half_status_block = block_arg(option, arg());
        } else if (option == "--crc-error" || option == "--verify-error" ||
                   option == "--status-after-block") {
            const bool generic = option == "--status-after-block";
            const std::vector<std::string> parts = split(arg(), ':');
            if (generic ? parts.size() != 3 : parts.size() > 2)
                usage_error(option + (generic ? " takes BLOCK:N:BYTE" : " takes BLOCK or BLOCK:N"));
            BlockStatusRule rule;
            rule.block = block_arg(option, parts[0]);
            rule.times =
                parts.size() > 1 ? static_cast<unsigned>(number_arg(option, parts[1], 1000000)) : 1;
            rule.status = generic
                              ? static_cast<uint8_t>(number_arg(option, parts[2], 255))
                              : (option == "--crc-error" ? kStatusCrcError : kStatusVerifyError);
            o.faults.block_status.push_back(rule);
        } else if (option == "--silent-after") {
            o.faults.silent_after = number_arg(option, arg(), UINT64_MAX);
        } else if (option == "--close-after") {
            o.faults.close_after = number_arg(option, arg(), UINT64_MAX);
        } else if (option == "--printer") {
            o.printer = arg();
            if (o.printer.empty()) usage_error("--printer needs a profile file");
        } else if (option == "--dump-keys") {
            o.dump_keys = arg();
            if (o.dump_keys.empty()) usage_error("--dump-keys needs a file name");
        } else if (option == "--quiet") {
            o.verbosity = Verbosity::kQuiet;
        } else if (option == "--verbose") {
            o.verbosity = Verbosity::kVerbose;
        } else if (std::string error; parse_mux_option(option, arg, o.mux, &error)) {
            if (!error.empty()) usage_error(error);
        } else {
            usage_error("unknown option '" + option + "'");
        }
    }
    if (std::string error; !check_mux_options(o.mux, &error)) usage_error(error);
    if (!o.dump_keys.empty() && o.printer.empty()) usage_error("--dump-keys needs --printer");
    if (o.faults.first_answer_at && !o.faults.first_answer)
        usage_error("--first-answer-at needs --first-answer");
    if (o.faults.half_status_block != BlockStatusRule::kAnyBlock && !o.faults.half_status)
        usage_error("--status-after-half-at needs --status-after-half");
    return o;
}

int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleep_until_ns(int64_t when) {
    timespec t{static_cast<time_t>(when / 1000000000), static_cast<long>(when % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
}

// A pty moves any amount at once; a real line needs 11 bit times for each
// byte (start, 8 data, parity, stop), 10 on the multiplexer's line, which has
// no parity. Each direction has its own clock: a byte counts as received, or
// as sent, only when its wire time is over.
class Pacer {
public:
    Pacer(unsigned baud, unsigned bits) : byte_ns_(baud ? bits * 1000000000LL / baud : 0) {}
    bool on() const { return byte_ns_ > 0; }
    void received(int64_t arrival_ns) { rx_ = wait(rx_, arrival_ns); }
    void before_send() { tx_ = wait(tx_, now_ns()); }

private:
    int64_t wait(int64_t clock, int64_t earliest) {
        const int64_t done = (clock > earliest ? clock : earliest) + byte_ns_;
        sleep_until_ns(done);
        return done;
    }
    int64_t byte_ns_;
    int64_t rx_ = 0;
    int64_t tx_ = 0;
};

// Written aside and renamed, so a reader never sees half an image.
bool write_dump(const std::string& path, const std::vector<uint8_t>& image) {
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok =
        file && (image.empty() || std::fwrite(image.data(), 1, image.size(), file) == image.size());
    if (file && std::fclose(file) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        log_line("error: cannot write the dump " + path + ": " + std::strerror(errno));
        std::remove(temporary.c_str());
    }
    return ok;
}

// The same way as the dump: a reader sees the whole list or the one before.
bool write_keys(const std::string& path, const std::vector<uint8_t>& keys) {
    std::string text;
    for (uint8_t k : keys) text += std::to_string(k) + "\n";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    return write_dump(path, bytes);
}

// Replaces a stale symlink; never clobbers anything that is not a symlink.
bool make_link(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            log_line("error: --link " + link + " exists and is not a symlink; not replaced");
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        log_line("error: cannot make the symlink " + link + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void remove_link(const std::string& link, const std::string& target) {
    char points_to[4096];
    const ssize_t n = readlink(link.c_str(), points_to, sizeof points_to - 1);
    if (n < 0) return;
    points_to[n] = '\0';
    if (target == points_to) unlink(link.c_str());  // a newer simulator may own it now
}

class Simulator {
public:
    Simulator(const Options& options, PtyLine& line)
        : options_(options),
          line_(line),
          printer_(options.faults, options.verbosity, log_line),
          pacer_(options.pace_baud, options.mux.on ? 10 : 11) {
        printer_.gap_timeout_ms = options.gap_timeout_ms;
        if (options.mux.on) {
            mux_.emplace(
                options.mux.faults,
                [this](uint8_t b, int64_t now_ms, std::vector<uint8_t>& out) {
                    printer_.receive(b, now_ms, out);
                },
                log_line, options.verbosity >= Verbosity::kVerbose);
            mux_->code = options.mux.code;
            mux_->identification = options.mux.identification;
            mux_->gap_timeout_ms = options.gap_timeout_ms;
        }
        if (!options.dump.empty())
            printer_.on_upload_complete = [this] { write_dump(options_.dump, printer_.image()); };
    }

    // A profile that does not load is a usage error, reported before the line opens.
    static PrinterProfile load_profile(const std::string& path) {
        PrinterProfile profile;
        std::string error;
        if (!LoadProfile(path, profile, error)) usage_error("--printer: " + error);
        return profile;
    }
    void attach_device(PrinterProfile profile) {
        printer_.attach_device(std::move(profile));
        if (!options_.dump_keys.empty()) {
            printer_.device()->onKey = [this] {
                write_keys(options_.dump_keys, printer_.device()->Keys());
            };
            write_keys(options_.dump_keys, {});
        }
    }

    int run(const sigset_t& unblocked);
    Printer& printer() { return printer_; }
    // The multiplexer's summary line, empty without --mux.
    std::string mux_summary() const { return mux_ ? mux_->summary() : std::string(); }

private:
    enum class Hosts { kSame, kNewHost, kAllGone };
    Hosts take_host_events();
    void serve();
    void read_once();
    void after_last_close();
    void send(const std::vector<uint8_t>& bytes);
    void line_closed() {
        printer_.line_closed();
        if (mux_) mux_->line_closed();
    }
    void info(const std::string& text) {
        if (options_.verbosity >= Verbosity::kNormal) log_line(text);
    }

    const Options& options_;
    PtyLine& line_;
    Printer printer_;
    std::optional<Multiplexer> mux_;  // with --mux: in front of the printer
    Pacer pacer_;
    bool stop_ = false;
    bool line_error_logged_ = false;
    bool drop_logged_ = false;
};

void Simulator::send(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    size_t sent = 0;
    if (pacer_.on()) {
        for (uint8_t b : bytes) {
            pacer_.before_send();
            if (line_.write(&b, 1) == 1) ++sent;
        }
    } else {
        const ssize_t n = line_.write(bytes.data(), bytes.size());
        sent = n > 0 ? static_cast<size_t>(n) : 0;
    }
    printer_.stats().bytes_sent += sent;
    if (sent < bytes.size() && !drop_logged_) {
        // A real printer's UART does not wait for a host that stopped reading.
        log_line("error: the host does not read; answer bytes dropped");
        drop_logged_ = true;
    }
}

// Opens and closes are taken right before every read of the line: a host
// opens before it sends anything, so bytes read after its open was seen
// never feed the request of the host before it.
Simulator::Hosts Simulator::take_host_events() {
    const PtyLine::HostEvents events = line_.take_host_events();
    printer_.stats().connections += events.opened;
    if (events.opened) info("host opened the line");
    if (events.present) {
        // Closed and opened again (the loader's presence test does so): the new
        // host starts afresh. A second opener that closes while another stays
        // changes nothing.
        return events.closed && events.opened ? Hosts::kNewHost : Hosts::kSame;
    }
    return events.closed ? Hosts::kAllGone : Hosts::kSame;
}

void Simulator::serve() {
    switch (take_host_events()) {
    case Hosts::kSame: break;
    case Hosts::kNewHost: line_closed(); break;
    case Hosts::kAllGone: after_last_close(); return;
    }
    read_once();
}

void Simulator::read_once() {
    uint8_t buffer[4096];
    const ssize_t n = line_.read(buffer, sizeof buffer);
    if (n < 0) {
        if (!line_error_logged_)
            log_line(std::string("error: reading the line: ") + std::strerror(errno));
        line_error_logged_ = true;
        sleep_until_ns(now_ns() + 50000000);  // do not spin on a broken line
        return;
    }
    const int64_t arrival = now_ns();
    std::vector<uint8_t> answer;
    for (ssize_t i = 0; i < n; ++i) {
        if (pacer_.on()) pacer_.received(arrival);
        answer.clear();
        if (mux_)
            mux_->receive(buffer[i], now_ns() / 1000000, answer);
        else
            printer_.receive(buffer[i], now_ns() / 1000000, answer);
        if (printer_.close_requested()) {
            stop_ = true;
            return;
        }
        send(answer);
    }
    if (n > 0) printer_.flush_stray();
}

void Simulator::after_last_close() {
    // Bytes written just before the close may still be on their way through
    // the pty: take them before the request state is dropped, unless a new
    // host opens meanwhile (its bytes and settings must not be touched).
    // When the old host left between requests (the loader's presence test
    // opens and closes without a word), whatever comes now can only be the new
    // host's: it must be answered, never dropped with the old host's state.
    const bool old_request_pending = !printer_.idle();
    bool read_since_close = false;
    for (int64_t until = now_ns() + 20000000; now_ns() < until && !stop_;) {
        pollfd p[2] = {{line_.watch_fd(), POLLIN, 0}, {line_.master_fd(), POLLIN, 0}};
        poll(p, 2, 5);
        take_host_events();
        if (line_.host_present()) {
            if (old_request_pending || !read_since_close) line_closed();
            return;
        }
        const uint64_t before = printer_.stats().bytes_received;
        read_once();
        read_since_close = read_since_close || printer_.stats().bytes_received != before;
    }
    // A host that opened during the last read: keep its line as it is.
    take_host_events();
    if (line_.host_present()) {
        if (old_request_pending) line_closed();
        return;
    }
    if (stop_) return;
    line_closed();
    line_.reset_after_close();
    drop_logged_ = false;
    info("host closed the line; line reset to 9600 baud");
    if (options_.exit_when_done && printer_.complete()) {
        info("all blocks stored and the host is gone (--exit-when-done)");
        stop_ = true;
    }
}

int Simulator::run(const sigset_t& unblocked) {
    while (!stop_ && !g_stop_signal) {
        pollfd fds[2] = {{line_.master_fd(), POLLIN, 0}, {line_.watch_fd(), POLLIN, 0}};
        const int64_t deadline_ms = printer_.deadline();
        timespec timeout{};
        if (deadline_ms >= 0) {
            const int64_t wait_ms = deadline_ms - now_ns() / 1000000;
            timeout.tv_sec = wait_ms > 0 ? wait_ms / 1000 : 0;
            timeout.tv_nsec = wait_ms > 0 ? (wait_ms % 1000) * 1000000 : 0;
        }
        const int ready = ppoll(fds, 2, deadline_ms >= 0 ? &timeout : nullptr, &unblocked);
        if (ready < 0) {
            if (errno == EINTR) continue;
            log_line(std::string("error: poll: ") + std::strerror(errno));
            return 1;
        }
        if (deadline_ms >= 0) printer_.expire(now_ns() / 1000000);
        if (ready > 0) serve();
    }
    if (g_stop_signal) info(std::string("stopped by ") + strsignal(g_stop_signal));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse_options(argc, argv);

    // The stop signals are only let in while waiting, so a byte is never half
    // handled when the simulator decides to end.
    sigset_t stop_signals, unblocked;
    sigemptyset(&stop_signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop_signals, s);
    sigprocmask(SIG_BLOCK, &stop_signals, &unblocked);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::optional<PrinterProfile> profile;
    if (!options.printer.empty()) profile = Simulator::load_profile(options.printer);

    PtyLine line;
    std::string error;
    if (!line.open(error)) {
        log_line("error: cannot create a pseudo-terminal: " + error);
        return 1;
    }
    if (line.watch_fd() < 0)
        log_line("warning: cannot watch the device; the line is not reset when a host closes it");
    if (!options.link.empty() && !make_link(options.link, line.slave_path())) return 1;
    std::printf("%s\n", line.slave_path().c_str());
    std::fflush(stdout);

    Simulator simulator(options, line);
    if (profile) simulator.attach_device(std::move(*profile));
    if (options.verbosity >= Verbosity::kNormal) {
        std::string text = "printer ready on " + line.slave_path();
        if (!options.link.empty()) text += " (link " + options.link + ")";
        if (options.pace_baud) text += ", paced at " + std::to_string(options.pace_baud) + " baud";
        if (options.faults.silent_after == 0u) text += ", silent (--silent-after 0)";
        if (options.mux.on) text += ", behind a multiplexer (--mux)";
        if (!options.printer.empty()) text += ", printer " + options.printer;
        log_line(text);
    }
    int status = simulator.run(unblocked);

    line.close();
    if (!options.dump.empty() && !write_dump(options.dump, simulator.printer().image())) status = 1;
    if (!options.dump_keys.empty() &&
        !write_keys(options.dump_keys, simulator.printer().device()->Keys()))
        status = 1;
    log_line(simulator.printer().summary());
    if (const std::string mux = simulator.mux_summary(); !mux.empty()) log_line(mux);
    if (!options.link.empty()) remove_link(options.link, line.slave_path());
    return status;
}
