#include "sim/mux_options.h"

#include <cerrno>
#include <cstdlib>

namespace vorin::sim {

const char kMuxUsage[] =
    "\nMultiplexer (the line ends in a multiplexer in front of the printer):\n"
    "  --mux                    take \"BRAXO\" frames, forward printer requests to the\n"
    "                           printer and answer with frames; --pace then counts 10\n"
    "                           bits a byte (8N1, the multiplexer line has no parity)\n"
    "  --mux-code TEXT          its 8-character code (default 00000000)\n"
    "  --mux-id TEXT            its 12-character identification (default VORIN-MUX-01)\n"
    "  --mux-bad-checksum N     corrupt the checksum of the next N answer frames\n"
    "  --mux-control CODE[:N]   answer the next N printer requests (default 1) with\n"
    "                           control CODE (1..7, 0x10, 0x20, 0x40, ...) without\n"
    "                           forwarding them;\n"
    "                           8: the whole answer in a first piece, an empty second\n"
    "  --mux-split N[:AT]       split the next N printer answers in two pieces, AT\n"
    "                           bytes in the first (default half)\n"
    "  --mux-garbage N          send N bytes of noise before every answer frame\n"
    "  --mux-silent-after N     send no answer frame after the first N (0: none)\n";

namespace {

bool Number(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0' && value <= max;
}

// "A" or "A:B" into two numbers; B keeps its value when absent.
bool Pair(const std::string& text, unsigned long maxA, unsigned long& a, unsigned long maxB,
          unsigned long& b) {
    const size_t colon = text.find(':');
    if (!Number(text.substr(0, colon), maxA, a)) return false;
    return colon == std::string::npos || Number(text.substr(colon + 1), maxB, b);
}

}  // namespace

bool ParseMuxOption(const std::string& option, const std::function<std::string()>& value,
                    MuxOptions& o, std::string* error) {
    if (option.rfind("--mux", 0) != 0) return false;
    auto bad = [&](const std::string& why) {
        *error = option + ": " + why;
        return true;
    };
    unsigned long a = 0, b = 0;
    if (option == "--mux") {
        o.on = true;
    } else if (option == "--mux-code") {
        o.code = value();
        if (o.code.size() != 8) return bad("the code has exactly 8 characters");
    } else if (option == "--mux-id") {
        o.identification = value();
        if (o.identification.size() != 12)
            return bad("the identification has exactly 12 characters");
    } else if (option == "--mux-bad-checksum") {
        if (!Number(value(), 1000000, a)) return bad("takes a number of frames");
        o.faults.badChecksum = static_cast<unsigned>(a);
    } else if (option == "--mux-control") {
        b = 1;
        if (!Pair(value(), 255, a, 1000000, b) || a == 0)
            return bad("takes CODE[:N], CODE 1 to 255");
        o.faults.control = static_cast<uint8_t>(a);
        o.faults.controlTimes = static_cast<unsigned>(b);
    } else if (option == "--mux-split") {
        b = ~0ul;
        if (!Pair(value(), 1000000, a, 255, b)) return bad("takes N[:AT], AT 0 to 255");
        o.faults.splitTimes = static_cast<unsigned>(a);
        if (b != ~0ul) o.faults.splitAt = static_cast<unsigned>(b);
    } else if (option == "--mux-garbage") {
        if (!Number(value(), 100000, a)) return bad("takes a number of bytes");
        o.faults.garbage = static_cast<unsigned>(a);
    } else if (option == "--mux-silent-after") {
        if (!Number(value(), ~0ul, a)) return bad("takes a number of frames");
        o.faults.silentAfter = a;
    } else {
        return bad("unknown multiplexer option");
    }
    return true;
}

bool CheckMuxOptions(const MuxOptions& o, std::string* error) {
    const bool faults = o.faults.badChecksum || o.faults.control || o.faults.splitTimes ||
                        o.faults.garbage || o.faults.silentAfter || o.code != "00000000" ||
                        o.identification != "VORIN-MUX-01";
    if (faults && !o.on) {
        *error = "the --mux-* options need --mux";
        return false;
    }
    return true;
}

}  // namespace vorin::sim
