// Field extractors, line cleaning and the text helpers on any bytes, with
// text buffers of exactly 256 bytes, terminated or not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vorin/driver.h"

namespace {

std::unique_ptr<char[]> buffer(const uint8_t* data, size_t size, bool terminate) {
    auto b = std::make_unique<char[]>(256);
    std::memset(b.get(), 0, 256);
    size_t n = size < 256 ? size : 256;
    std::memcpy(b.get(), data, n);
    if (terminate) b[255] = '\0';
    return b;
}

void Check(const char* text) {
    if (std::memchr(text, '\0', 256) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    uint8_t n = data[0];
    const char seps[] = {'\t', ':', ';', ' '};
    char sep = seps[data[1] % 4];
    bool terminate = (data[2] & 1) != 0;
    data += 3;
    size -= 3;

    auto text = buffer(data, size, terminate);
    auto field = std::make_unique<char[]>(256);
    if (NapisZawieraPole(text.get(), n, sep, field.get())) {
        if (std::strchr(field.get(), sep) != nullptr || field[0] == '\0') std::abort();
    }
    Check(field.get());
    NapisZawieraDana(text.get(), n, field.get());
    NapisZawieraPodpole(text.get(), n, field.get());
    NapisZawieraParametr(text.get(), n, field.get());
    Check(field.get());
    auto same = buffer(data, size, terminate);
    NapisZawieraDana(same.get(), n, same.get());
    Check(same.get());

    auto clean = buffer(data, size, terminate);
    OczyszczenieLinii(clean.get());
    Check(clean.get());

    auto edit = buffer(data, size, terminate);
    DopisanieZnaku(edit.get(), static_cast<char>(n));
    WstawienieZnakuNaPoczatek(static_cast<char>(n), edit.get());
    Check(edit.get());
    FragmentNapisu(edit.get(), n, static_cast<uint8_t>(n + (size & 0xFF)));
    Check(edit.get());
    UsuniecieSpacji(edit.get());
    Check(edit.get());
    NapisyRowne(text.get(), edit.get());
    return 0;
}
