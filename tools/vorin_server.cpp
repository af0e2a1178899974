// vorin-server: the supervising server's side of the server command channel,
// for people and scripts. Built on the driver library's exported C functions.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vorin/driver.h"

namespace {

constexpr char kUsage[] =
    "usage: vorin-server --message N [--timeout MS] watch [--count K]\n"
    "       vorin-server --message N [--timeout MS] send ID LETTER [VALUE]\n"
    "       vorin-server --help | --version\n"
    "\n"
    "Talks to VORIN printer drivers on the server channel with message number N\n"
    "(the number in the drivers' configuration; decimal or 0x hex).\n"
    "\n"
    "  watch              print every driver message as it arrives: driver id,\n"
    "                     letter, its name and value. Runs until interrupted, or\n"
    "                     until K messages came (--count), or until MS ms pass\n"
    "                     without a message (--timeout).\n"
    "  send ID LETTER [VALUE]\n"
    "                     post one command to the driver with that id and print its\n"
    "                     answer. LETTER: a AVAILABLE, b BREAK, c COUNTER, l LINES,\n"
    "                     o OUTLINES, r RESUME, s SUSPEND (any a..z is sent).\n"
    "                     VALUE 0..0xFFFFFF (default 0). Waits MS ms (default 2000).\n"
    "\n"
    "Exit status: 0 done; 1 no answer (send) or fewer than K messages (watch)\n"
    "within the timeout; 2 usage error; 3 the message bus cannot be used (one\n"
    "line on standard error says why); 4 no answer (send), and no process with\n"
    "that id takes part in the bus: no driver runs under that process id (a\n"
    "driver with an id override is known by its answer only).\n";

const char* Name(char letter) {
    switch (letter) {
    case 'A': return "AVAILABLE";
    case 'B': return "BREAK";
    case 'C': return "COUNTER";
    case 'E': return "E";
    case 'L': return "LINES";
    case 'O': return "OUTLINES";
    case 'R': return "RESUME";
    case 'S': return "SUSPEND";
    default: return "?";
    }
}

bool Number(const char* text, uint32_t max, uint32_t* out) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

int Usage(const char* why) {
    std::fprintf(stderr, "vorin-server: %s\n\n%s", why, kUsage);
    return 2;
}

void Print(uint32_t id, char letter, uint32_t value) {
    std::printf("driver %u %c %s %u\n", id, letter, Name(letter), value);
    std::fflush(stdout);
}

int Watch(uint32_t count, uint32_t timeoutMs) {
    uint32_t seen = 0;
    for (;;) {
        if (count != 0 && seen >= count) return 0;
        uint32_t id = 0, value = 0;
        const char letter = vorin_server_fetch(&id, &value, timeoutMs);
        if (letter == 0) {
            if (timeoutMs == 0xFFFFFFFFu) {
                std::fprintf(stderr, "vorin-server: waiting on the message bus failed\n");
                return 3;
            }
            return count != 0 ? 1 : 0;
        }
        Print(id, letter, value);
        ++seen;
    }
}

int Send(uint32_t id, char letter, uint32_t value, uint32_t timeoutMs) {
    if (!vorin_server_post(id, letter, value)) {
        std::fprintf(stderr, "vorin-server: the command could not be posted\n");
        return 3;
    }
    // Other messages of that driver (its reports) and of other drivers are
    // passed over; the answer carries the command's letter in upper case.
    const char answer = static_cast<char>(letter - 'a' + 'A');
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto now = Clock::now();
        if (now >= end) break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        uint32_t from = 0, v = 0;
        const char got = vorin_server_fetch(&from, &v, static_cast<uint32_t>(left));
        if (got == 0) break;
        if (from == id && got == answer) {
            Print(from, got, v);
            return 0;
        }
    }
    if (!vorin_channel_has_process(id)) {
        std::printf(
            "no answer from driver %u within %u ms: no process %u takes part in the "
            "message bus, so no driver runs with that process id\n",
            id, timeoutMs, id);
        return 4;
    }
    std::printf("no answer from driver %u within %u ms: it runs but did not answer in time\n", id,
                timeoutMs);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t message = 0, timeoutMs = 0xFFFFFFFFu, count = 0;
    bool haveMessage = false, haveTimeout = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == "--version") {
            std::printf("vorin-server %s\n", vorin_version());
            return 0;
        }
        if (i + 1 >= argc) return Usage(("missing value after " + opt).c_str());
        if (opt == "--message") {
            if (!Number(argv[++i], 0xFFFFFFFFu, &message) || message == 0)
                return Usage("--message needs a number from 1 to 0xFFFFFFFF");
            haveMessage = true;
        } else if (opt == "--timeout") {
            if (!Number(argv[++i], 0x7FFFFFFF, &timeoutMs))
                return Usage("--timeout needs a number of milliseconds");
            haveTimeout = true;
        } else {
            return Usage(("unknown option " + opt).c_str());
        }
    }
    if (!haveMessage) return Usage("--message N is required");
    if (i >= argc) return Usage("say watch or send");
    const std::string command = argv[i++];
    if (command != "watch" && command != "send")
        return Usage(("unknown command " + command).c_str());
    // Checked before anything is posted or awaited: a bus this process may
    // not use would otherwise look like silence.
    char why[256] = "";
    if (!vorin_channel_usable(why)) {
        std::fprintf(stderr, "vorin-server: the message bus cannot be used: %s\n", why);
        return 3;
    }
    vorin_set_message_number(message);
    if (command == "watch") {
        if (i < argc) {
            if (std::string(argv[i]) != "--count" || i + 2 != argc ||
                !Number(argv[i + 1], 0xFFFFFFFFu, &count))
                return Usage("watch takes only --count K");
        }
        return Watch(count, timeoutMs);
    }
    if (command == "send") {
        if (argc - i < 2 || argc - i > 3) return Usage("send needs ID LETTER [VALUE]");
        uint32_t id = 0, value = 0;
        if (!Number(argv[i], 0xFFFFFFFFu, &id)) return Usage("ID must be a number");
        const char* letter = argv[i + 1];
        if (std::strlen(letter) != 1 || letter[0] < 'a' || letter[0] > 'z')
            return Usage("LETTER must be one lower-case letter a..z");
        if (argc - i == 3 && !Number(argv[i + 2], 0xFFFFFF, &value))
            return Usage("VALUE must be a number from 0 to 0xFFFFFF");
        return Send(id, letter[0], value, haveTimeout ? timeoutMs : 2000);
    }
    return Usage(("unknown command " + command).c_str());
}
