// The printer's article records: count, full and short record reads into
// the output file, one-number commands and the refused-article record.
#include <string>

#include "device/device.h"
#include "device/internal.h"
#include "driverfiles/records.h"
#include "link/link.h"

namespace vorin::device {

namespace lk = vorin::link;

namespace {

constexpr uint32_t kPrzesuniecieWysokie = 65023;  // 0xFDFF
constexpr uint8_t kBrakArtykulu = 202;            // printer status 102
constexpr uint8_t kNiepoprawnaOdpowiedz = 23;
constexpr uint8_t kBladPlikuWyjsciowego = 17;

void UstawNumer(uint32_t numer) {
    lk::ObszarNadawania[1] = lk::BajtSlowa(1, numer);
    lk::ObszarNadawania[2] = lk::BajtSlowa(2, numer);
}

uint64_t Wartosc(unsigned od, unsigned ile) {
    uint64_t v = 0;
    for (unsigned i = ile; i-- > 0;) v = v << 8 | lk::ObszarOdpowiedzi[od + i];
    return v;
}

// Answer bytes as characters of a record (see ZnakRekordu).
std::string Znaki(unsigned od, unsigned ile) {
    std::string s;
    for (unsigned i = 0; i < ile; ++i) s += ZnakRekordu(lk::ObszarOdpowiedzi[od + i]);
    return s;
}

// The printer takes two bytes: a number above them would reach another
// article, whose answer would be recorded under this number. The printer
// holds no such article, so it is treated as the printer's own "no article"
// (status 102): a read skips it, a command reports it.
bool NumerDoWyslania(uint64_t numer) { return numer <= 0xFFFF; }

// The value check of one record byte; a failure ends the run with 23.
bool Bajt(unsigned pozycja, unsigned od, unsigned doIlu, std::string& linia) {
    const uint8_t b = lk::ObszarOdpowiedzi[pozycja];
    if (b < od || b > doIlu) return false;
    linia += std::to_string(b);
    linia += '\t';
    return true;
}

void ZapisLinii(const std::string& linia) {
    if (!ZapisDoPlikuWyjsciowego(linia)) {
        lk::KodWyniku = kBladPlikuWyjsciowego;
        ZakonczenieRuchu();
    }
}

}  // namespace

std::string Pole13Cyfr(const uint8_t bajty[6]) {
    uint64_t v = 0;
    for (int i = 5; i >= 0; --i) v = v << 8 | bajty[i];
    return Dziesietnie(v, 13);
}

bool ZapisDoPlikuWyjsciowego(const std::string& linia) {
    return ZapisanoDoPlikuLinieDanych(driverfiles::TheDriverFileState().outputHandle,
                                      linia.c_str()) != 0;
}

}  // namespace vorin::device

using namespace vorin::device;
namespace lk = vorin::link;

extern "C" {

uint8_t OdczytanieLiczbyPLU(uint32_t* count) {
    const VorinDeviceType& t = TypUrzadzenia();
    uint32_t liczba = 65535;
    const bool bezZapytania =
        (!TypRozszerzony(t.typeCode) && !ParaSpecjalna(t.typeCode)) ||
        (t.typeCode == 101 && t.version == 1 && (t.variant == 'A' || t.variant == 'B'));
    if (!bezZapytania) {
        lk::WykonanieRozkazu(0x91, 3, 0, 0);
        if (lk::KodWyniku != 0) return 0;
        liczba = lk::ObszarOdpowiedzi[1] + 256u * lk::ObszarOdpowiedzi[2];
    }
    if (count != nullptr) *count = liczba;
    return 1;
}

void OdczytanieArtykulu(uint32_t first, uint32_t last) {
    if (last < first) return;
    const bool wysoki = PrzelacznikWysokiegoZakresu != 0;
    const uint8_t typ = TypUrzadzenia().typeCode;
    const uint64_t numer = wysoki ? uint64_t{first} + kPrzesuniecieWysokie : first;
    if (!NumerDoWyslania(numer)) return;
    UstawNumer(static_cast<uint32_t>(numer));
    lk::WykonanieRozkazu(0xAC, 1, 2, 36);
    if (lk::KodWyniku != 0) {
        if (lk::KodWyniku == kBrakArtykulu) lk::KodWyniku = 0;
        return;
    }
    std::string linia = Dziesietnie(first, wysoki ? 2 : 5) + '\t' + Znaki(1, 19) + '\t';
    lk::KodWyniku = kNiepoprawnaOdpowiedz;
    bool ok = Bajt(20, 1, ParaSpecjalna(typ) ? 9 : 7, linia);
    if (ok && !wysoki) {
        ok = Bajt(21, 1, 99, linia);
        if (ok && !KlasaP(typ))
            ok = Bajt(22, 0, 3, linia) && Bajt(23, 1, 16, linia) && Bajt(24, 0, 1, linia);
        if (ok) linia += Dziesietnie(Wartosc(25, 6), 13) + '\t';
    }
    if (ok) {
        linia += std::to_string(Wartosc(31, 4));
        if (!wysoki && !KlasaP(typ)) {
            linia += '\t';
            const uint8_t b = lk::ObszarOdpowiedzi[35];
            ok = b <= 1;
            linia += std::to_string(b);
        }
    }
    if (!ok) {
        ZakonczenieRuchu();
        return;
    }
    lk::KodWyniku = 0;
    ZapisLinii(linia);
}

void OdczytanieArtykuluKrotkiego(uint32_t first, uint32_t last) {
    if (last < first || !NumerDoWyslania(first)) return;
    UstawNumer(first);
    lk::WykonanieRozkazu(0x03, 0, 2, 31);
    if (lk::KodWyniku != 0) {
        if (lk::KodWyniku == kBrakArtykulu) lk::KodWyniku = 0;
        return;
    }
    uint8_t pole[6];
    for (unsigned i = 0; i < 6; ++i) pole[i] = lk::ObszarOdpowiedzi[21 + i];
    const unsigned gora = pole[5] >> 4;
    pole[5] &= 0x0F;
    const std::string linia = Dziesietnie(first, 5) + '\t' + Znaki(1, 20) + '\t' +
                              std::to_string(gora + 1) + '\t' + Pole13Cyfr(pole) + '\t' +
                              std::to_string(Wartosc(27, 4));
    ZapisLinii(linia);
}

uint8_t RozkazArtykulu(uint32_t first, uint32_t last) {
    if (last < first) return 0;
    const uint64_t numer =
        PrzelacznikWysokiegoZakresu ? uint64_t{first} + kPrzesuniecieWysokie : first;
    if (!NumerDoWyslania(numer)) {
        lk::KodWyniku = kBrakArtykulu;
        return 0;
    }
    UstawNumer(static_cast<uint32_t>(numer));
    lk::WykonanieRozkazu(TypRozszerzony(TypUrzadzenia().typeCode) ? 0x9F : 0xF1, 1, 2, 1);
    return lk::KodWyniku == 0;
}

uint8_t RozkazArtykulu04(uint32_t first, uint32_t last) {
    if (last < first) return 0;
    if (!NumerDoWyslania(first)) {
        lk::KodWyniku = kBrakArtykulu;
        return 0;
    }
    UstawNumer(first);
    lk::WykonanieRozkazu(0x04, 0, 2, 1);
    return lk::KodWyniku == 0;
}

uint8_t ZapisanieBleduArtykulu(uint32_t number, uint8_t* code) {
    const uint8_t kod = lk::KodWyniku;
    if (kod == 0) return 1;
    const bool artykulu = kod == 200 || kod == 209 || (kod >= 221 && kod <= 227);
    if (!artykulu) return 0;
    if (code != nullptr) *code = kod;
    lk::KodWyniku = 0;
    if (!ZapisDoPlikuWyjsciowego(Dziesietnie(number, 5) + '\t' + std::to_string(kod))) {
        lk::KodWyniku = kBladPlikuWyjsciowego;
        return 0;
    }
    return 1;
}

}  // extern "C"
