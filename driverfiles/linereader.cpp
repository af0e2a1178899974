#include "driverfiles/linereader.h"

#include <cstring>

#include "driverfiles/text.h"

namespace vorin::driverfiles {
namespace {

// Longest text before the length check can fire: 255 characters plus a
// pending partial terminator of up to 254 bytes plus the breaking byte.
constexpr std::size_t kWorkSize = 2 * kTextSize + 8;

struct Work {
    char text[kWorkSize];
    std::size_t textLen = 0;
    std::uint8_t pending[kTextSize];
    std::size_t pendingLen = 0;

    void FlushPending() {
        for (std::size_t i = 0; i < pendingLen; ++i) {
            if (pending[i] != 0) text[textLen++] = static_cast<char>(pending[i]);
        }
        pendingLen = 0;
    }
};

}  // namespace

bool ReadRawLine(ByteSource& source, std::string_view terminator, char* text,
                 bool& lastTerminated) {
    std::memset(text, 0, kTextSize);
    if (terminator.empty() || terminator.size() > kTextMax) return false;
    Work w;
    std::size_t match = 0;
    for (;;) {
        bool before = lastTerminated;
        lastTerminated = false;
        std::uint8_t b = 0;
        ByteSource::Result r = source.Next(b);
        if (r == ByteSource::Result::End) {
            lastTerminated = before;  // at the end nothing was read
            break;
        }
        if (r == ByteSource::Result::Failure) break;
        w.pending[w.pendingLen++] = b;
        if (b != static_cast<std::uint8_t>(terminator[match])) {
            w.FlushPending();
            match = 0;
            if (w.textLen > kTextMax) return false;
            continue;
        }
        if (w.pendingLen == terminator.size()) {
            lastTerminated = true;
            w.pendingLen = 0;
            break;
        }
        ++match;
    }
    // A partial terminator at the end of the file belongs to the line; it can
    // push the line over the limit too.
    w.FlushPending();
    if (w.textLen > kTextMax) return false;
    std::memcpy(text, w.text, w.textLen);
    return w.textLen > 0;
}

}  // namespace vorin::driverfiles
