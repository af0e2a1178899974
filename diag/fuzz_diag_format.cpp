// The diagnostic formatter on any format, with arguments of both kinds (long
// texts among them): the line, the file name and the number text must stay
// inside their limits, and nothing may be read past a NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/diag.h"

using vorin::diag::Argument;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t number;
    std::memcpy(&number, data, 4);
    // An exact-size copy, so a read past the NUL is caught by ASan.
    char* format = static_cast<char*>(std::malloc(size - 4 + 1));
    std::memcpy(format, data + 4, size - 4);
    format[size - 4] = '\0';

    const std::string longText(300, 'z');
    const Argument args[] = {Argument(number),
                             Argument(format),
                             Argument(longText),
                             Argument(-1),
                             Argument("1234567890123456"),
                             Argument('%')};
    for (std::size_t n = 0; n <= sizeof args / sizeof args[0]; ++n) {
        const vorin::diag::Wynik w = vorin::diag::Formatowanie(format, args, n);
        if (w.linia.size() > vorin::diag::kDlugoscLinii && !w.bladFormatu) std::abort();
        if (w.nazwaPliku.size() > vorin::diag::kDlugoscNazwyPliku) std::abort();
        if (w.linia.compare(0, 9, "***DEBUG*") != 0 && !w.bladFormatu) std::abort();
    }
    char text[12];
    for (uint8_t digits : {uint8_t{0}, uint8_t{3}, static_cast<uint8_t>(data[0])}) {
        vorin::diag::LiczbaNaNapisCpp(number, text, digits, (data[1] & 1) != 0);
        if (std::strlen(text) > 11) std::abort();
    }
    std::free(format);
    return 0;
}
