// Line reader against a plain reference with unbounded strings: the first
// byte picks the terminator length, the second a count of filler bytes that
// start the file (so lines near the 255-character limit are easy to reach),
// the next bytes are the terminator, the rest follows the filler.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "driverfiles/linereader.h"

namespace {

struct Ref {
    bool ok;
    std::string text;
};

Ref Reference(const uint8_t* data, size_t size, size_t& pos, const std::string& term, bool& flag) {
    std::string text;
    std::string pending;
    size_t match = 0;
    auto flush = [&] {
        for (char c : pending) {
            if (c != '\0') text += c;
        }
        pending.clear();
    };
    while (pos < size) {
        flag = false;
        char b = static_cast<char>(data[pos++]);
        pending += b;
        if (b != term[match]) {
            flush();
            match = 0;
            if (text.size() > 255) return {false, ""};
            continue;
        }
        if (pending.size() == term.size()) {
            flag = true;
            pending.clear();
            break;
        }
        ++match;
    }
    flush();
    if (text.size() > 255) return {false, ""};
    return {!text.empty(), text};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    size_t termLen = 1 + data[0] % 255;
    size_t filler = data[1];
    if (size < 2 + termLen) return 0;
    std::string term(reinterpret_cast<const char*>(data + 2), termLen);
    std::string bytes(filler, 'a');
    bytes.append(reinterpret_cast<const char*>(data + 2 + termLen), size - 2 - termLen);
    const uint8_t* file = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t fileSize = bytes.size();

    vorin::driverfiles::MemoryByteSource source(file, fileSize);
    size_t refPos = 0;
    bool flag = true;
    bool refFlag = true;
    auto text = std::make_unique<char[]>(256);  // exactly a text buffer, so ASan sees any overrun
    for (int guard = 0; guard <= 100000; ++guard) {
        bool atEnd = refPos >= fileSize;
        bool ok = vorin::driverfiles::ReadRawLine(source, term, text.get(), flag);
        Ref r = Reference(file, fileSize, refPos, term, refFlag);
        if (ok != r.ok || text.get()[255] != '\0' || r.text != text.get() || flag != refFlag ||
            source.Position() != refPos) {
            std::abort();
        }
        if (atEnd) return 0;
    }
    std::abort();  // the reader stopped making progress
}
