// The six-byte parser and the validators built on it, on any text of a
// 256-byte buffer, with cross-checks between family members.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vorin/driver.h"

namespace {
uint64_t Load(const uint8_t* v, int n) {
    uint64_t r = 0;
    for (int i = n - 1; i >= 0; --i) r = (r << 8) | v[i];
    return r;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto text = std::make_unique<char[]>(256);
    std::memset(text.get(), 0, 256);
    std::memcpy(text.get(), data, size < 256 ? size : 256);
    const char* t = text.get();

    uint8_t six[6];
    bool ok = PoprawnaLiczbaSzesciobajtowa(t, six) != 0;
    uint64_t v = Load(six, 6);
    if (!ok && v != 0) std::abort();
    uint8_t part[6];
    bool any = PoprawnaLiczbaSzesciobajtowaDec(t, part) ||
               PoprawnaLiczbaSzesciobajtowaHex(t, part) ||
               PoprawnaLiczbaSzesciobajtowaWCudzyslowie(t, part);
    if (any != ok) std::abort();
    if (DlugoscLiczbySzesciobajtowej(six) < 1 || DlugoscLiczbySzesciobajtowej(six) > 6)
        std::abort();

    uint32_t l = 1;
    bool isLong = PoprawnaLiczbaTypuLong(t, &l) != 0;
    if (isLong != (ok && v <= 0xFFFFFFFFu) || (isLong && l != v) || (!isLong && l != 0))
        std::abort();
    uint32_t w = 12345;
    bool isWord = PoprawnaLiczbaTypuWord(t, &w) != 0;
    if (isWord != (isLong && v <= 0xFFFF) || (!isWord && w != 12345)) std::abort();
    uint8_t b = 77;
    bool isByte = PoprawnaLiczbaTypuByte(t, &b) != 0;
    if (isByte != (isLong && v <= 0xFF) || (!isByte && b != 77)) std::abort();
    uint32_t r = 5;
    PoprawnaLiczbaZPodanegoZakresu(t, 10, 20, &r);
    if (r != (isLong ? v : 0)) std::abort();

    uint8_t eight[8];
    if (!PoprawnaLiczbaOsmiobajtowa(t, eight) && Load(eight, 8) != 0) std::abort();
    char back[256];
    NapisZLiczbyOsmiobajtowej(eight, back);
    uint8_t again[8];
    if (LiczbaOsmiobajtowaZNapisu(back, again) != 0 || std::memcmp(eight, again, 8) != 0)
        std::abort();

    uint32_t digits;
    uint8_t places;
    PoprawnaLiczbaZmiennoprzecinkowa(t, &digits, &places);
    uint8_t parity;
    PoprawnyNapisOpisujacyParzystosc(t, &parity);
    uint8_t dt[9];
    if (PoprawnaData(t, size & 1, dt) && (dt[0] > 99 || dt[1] < 1 || dt[1] > 12 || dt[2] < 1))
        std::abort();
    if (PoprawnyCzas(t, size & 1, dt) && (dt[0] > 23 || dt[1] > 59 || dt[2] > 59)) std::abort();
    return 0;
}
