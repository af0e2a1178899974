// Reading the printer's number, type and identification, naming its model
// and counting its articles.
#include <cstring>
#include <string>

#include "device/device.h"
#include "device/internal.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"

namespace vorin::device {

namespace lk = vorin::link;

namespace {

struct Model {
    const char* nazwa;
    uint8_t a;
    uint8_t b;
};

bool KlasaK(uint8_t k) { return k == 28 || k == 31 || k == 103 || k == 104; }
bool KlasaM(uint8_t k) {
    return k == 22 || k == 23 || k == 29 || k == 32 || k == 35 || k == 38 || k == 100 || k == 101;
}
bool KlasaS(uint8_t k) { return k == 43 || k == 102; }
bool KlasaT(uint8_t k) { return k == 107; }

// Tested from the top: the first class that holds the code decides.
Model ModelTypu(uint8_t k) {
    if (KlasaK(k)) return {"Kalen", 4, 40};
    if (KlasaM(k)) return {"Mirto", 4, 40};
    if (KlasaS(k)) return {"Sovel", 6, 18};
    if (KlasaT(k)) return {"Trina", 5, 18};
    if (KlasaP(k)) return {"Pello Vita", 6, 24};
    return {"Braxo", 4, 40};
}

constexpr uint8_t kVariantA = 'A';

}  // namespace

bool ParaSpecjalna(uint8_t kod) { return kod == 111 || kod == 112; }
bool TypRozszerzony(uint8_t kod) { return kod >= 100 && !ParaSpecjalna(kod); }
bool KlasaP(uint8_t kod) { return kod == 117; }

void WpiszTekst(char* bufor, std::string_view tekst) { driverfiles::StoreText(bufor, tekst); }

std::string Dziesietnie(uint64_t n, unsigned cyfry) {
    std::string s = std::to_string(n);
    if (s.size() < cyfry) s.insert(0, cyfry - s.size(), '0');
    return s;
}

bool OdczytanieKoduTypu() {
    VorinDeviceType& t = TypUrzadzenia();
    lk::WykonanieRozkazu(0xFE, 4, 0, 0);
    if (lk::KodWyniku == lk::Kod::OdpowiedzNAK) {
        // An older printer: type and version come in two separate answers.
        lk::KodWyniku = 0;
        lk::WykonanieRozkazu(0xFF, 2, 0, 0);
        if (lk::KodWyniku != 0) return false;
        t.typeCode = lk::ObszarOdpowiedzi[1];
        lk::WykonanieRozkazu(0x5B, 2, 0, 0);
        if (lk::KodWyniku != 0) return false;
        t.version = lk::ObszarOdpowiedzi[1] >> 4;
        t.variant = 0;
    } else if (lk::KodWyniku != 0) {
        return false;
    } else {
        t.typeCode = lk::ObszarOdpowiedzi[1];
        t.version = lk::ObszarOdpowiedzi[2];
        t.variant = lk::ObszarOdpowiedzi[3];
    }
    lk::KodTypuUrzadzenia = t.typeCode;

    unsigned n = 11;
    bool odstep = false;
    if (TypRozszerzony(t.typeCode)) {
        if (t.typeCode <= 102 && t.version == 1 && t.variant == kVariantA)
            n = 12;
        else if (t.typeCode != 114)
            odstep = true;
    }
    lk::WykonanieRozkazu(0x71, static_cast<uint8_t>(n + 1), 0, 0);
    if (lk::KodWyniku != 0) return false;

    WpiszTekst(t.typeText, std::to_string(t.typeCode));
    WpiszTekst(t.versionText, Dziesietnie(t.version, 2));
    WpiszTekst(t.variantText, t.variant ? std::string(1, static_cast<char>(t.variant)) : "");
    t.generation = TypRozszerzony(t.typeCode) ? 2 : 1;
    WpiszTekst(t.generationText, t.generation == 2 ? "II" : "I");
    const Model m = ModelTypu(t.typeCode);
    WpiszTekst(t.modelName, m.nazwa);
    t.modelA = m.a;
    t.modelB = m.b;
    if (KlasaP(t.typeCode)) {
        // Asked for 11 characters above; this model's identification is the first 9.
        n = 9;
        odstep = false;
    }
    std::string id;
    for (unsigned i = 1; i <= n; ++i) {
        // A NUL from the printer ends the text, as it would in any text buffer.
        if (lk::ObszarOdpowiedzi[i] == 0) break;
        id += ZnakRekordu(lk::ObszarOdpowiedzi[i]);
        if (odstep && i == 3) id += ' ';
    }
    WpiszTekst(t.identification, id);
    return true;
}

void DodanieCzesciOpisu(char* opis, uint8_t rodzaj, const char* tekst) {
    if (rodzaj == 2 && !PrzelacznikLiczeniaPLU) return;
    DolaczenieCzesciOpisu(opis, rodzaj, tekst);
}

void DolaczenieCzesciOpisu(char* opis, uint8_t rodzaj, const char* tekst) {
    if (opis == nullptr) return;
    if (rodzaj == 0) {
        opis[0] = '\0';
        return;
    }
    if (tekst == nullptr || tekst[0] == '\0') return;
    if (rodzaj == 3 && KlasaP(TypUrzadzenia().typeCode)) return;
    std::string s(opis, strnlen(opis, driverfiles::kTextMax));
    if (!s.empty()) s += ' ';
    switch (rodzaj) {
    case 1: s += tekst; break;
    case 2: s += std::string(tekst) + " PLU"; break;
    case 3: s += std::string(tekst) + " gen."; break;
    case 4: s += "ver. " + std::string(tekst); break;
    default: return;
    }
    WpiszTekst(opis, s);
}

bool ProbaNumeruPLU(uint32_t numer, bool& pozaZakresem) {
    lk::ObszarNadawania[1] = lk::BajtSlowa(1, numer);
    lk::ObszarNadawania[2] = lk::BajtSlowa(2, numer);
    lk::WykonanieRozkazu(0xE6, 1, 2, 2);
    pozaZakresem = false;
    if (lk::KodWyniku == 0) return true;
    if (lk::KodWyniku == 105) {
        lk::KodWyniku = 0;
        pozaZakresem = true;
        return true;
    }
    return false;
}

bool UstalenieLiczbyPLU(uint32_t& liczba) {
    uint32_t dol = 1, gora = 65535, numer = 65535;
    liczba = 0;
    for (;;) {
        bool poza = false;
        if (!ProbaNumeruPLU(numer, poza)) return false;
        if (poza) {
            if (numer <= dol) {
                // Even the lowest number left is refused: nothing lies below it
                // (a printer that refuses article 1 holds no articles).
                liczba = numer - 1;
                return true;
            }
            gora = numer;
            numer = dol + (numer - dol) / 2;
        } else {
            dol = numer;
            if (gora - numer < 2) {
                liczba = numer;
                return true;
            }
            numer = numer + (gora - numer) / 2;
        }
    }
}

}  // namespace vorin::device

extern "C" uint8_t OdczytanieNumeruUrzadzenia(void) {
    namespace lk = vorin::link;
    VorinDeviceType& t = vorin::device::TypUrzadzenia();
    lk::WykonanieRozkazu(0xC0, 3, 0, 0);
    if (lk::KodWyniku != 0) return 0;
    const char dwa[3] = {static_cast<char>(lk::ObszarOdpowiedzi[1]),
                         static_cast<char>(lk::ObszarOdpowiedzi[2]), '\0'};
    vorin::device::WpiszTekst(t.numberText, dwa);
    return PoprawnaLiczbaTypuByte(t.numberText, &t.deviceNumber);
}
