// Remote key presses, the printer status check and the display text read.
#include <string>

#include "device/device.h"
#include "device/internal.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "link/port_ops.h"

namespace vorin::device {

namespace lk = vorin::link;

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEscape = 27;
constexpr uint8_t kCyfra0 = '0';
constexpr unsigned kPauzaMs = 100;

struct Klawisz {
    uint8_t klawisz;
    uint8_t kod;
};
constexpr Klawisz kKlawisze[] = {
    {1, 77},  {13, 22}, {27, 21}, {48, 14}, {49, 12}, {50, 20}, {51, 13},
    {52, 18}, {53, 11}, {54, 19}, {55, 9},  {56, 17}, {57, 10},
};

// Line state words and result codes of the status check.
constexpr uint32_t kStanRoboczy = 510;
constexpr uint8_t kDrukarkaNieGotowa = 57;

}  // namespace

uint8_t KodKlawisza(uint8_t klawisz) {
    for (const Klawisz& k : kKlawisze)
        if (k.klawisz == klawisz) return k.kod;
    return 0;
}

}  // namespace vorin::device

using namespace vorin::device;
namespace lk = vorin::link;

extern "C" {

uint8_t NacisniecieKlawisza(uint8_t key, uint8_t pause) {
    const uint8_t kod = KodKlawisza(key);
    if (kod == 0) return 0;
    lk::ObszarNadawania[1] = kod;
    lk::ObszarNadawania[2] = static_cast<uint8_t>(255 - kod);
    lk::WykonanieRozkazu(0xF9, 1, 2, 1);
    // Through the port table, so a scripted line records the pause.
    if (lk::KodWyniku == 0 && pause) lk::BiezaceOperacjePortu().Opoznienie(kPauzaMs);
    return lk::KodWyniku == 0;
}

uint8_t WpisanieLiczby(uint32_t value, uint8_t pause) {
    const std::string cyfry = Dziesietnie(value & 0xFF, 3);
    for (char c : cyfry)
        if (!NacisniecieKlawisza(static_cast<uint8_t>(c), 1)) return 0;
    return NacisniecieKlawisza(kEnter, pause);
}

uint8_t SeriaEscape(void) {
    for (int i = 0; i < 10; ++i)
        if (!NacisniecieKlawisza(kEscape, 1)) return 0;
    return 1;
}

uint8_t SekwencjaKlawiszy(void) {
    return SeriaEscape() && NacisniecieKlawisza(1, 1) && NacisniecieKlawisza('7', 1) &&
           NacisniecieKlawisza(kEnter, 1);
}

uint8_t WpisanieTekstu(uint8_t item, const char* text) {
    if (!NacisniecieKlawisza(static_cast<uint8_t>(kCyfra0 + item), 1) ||
        !NacisniecieKlawisza('1', 1) || !NacisniecieKlawisza(kEnter, 1))
        return 0;
    if (text == nullptr) return 1;
    const std::size_t n = vorin::driverfiles::TextLength(text);
    for (std::size_t i = 0; i < n && i < vorin::driverfiles::kTextMax; ++i)
        if (!WpisanieLiczby(static_cast<uint8_t>(text[i]), 1)) return 0;
    return 1;
}

uint8_t StanDrukarki(void) {
    lk::KontrolaLinii();
    if (lk::KodWyniku != 0) return 0;
    lk::StanLinii = kStanRoboczy;
    uint8_t s[4];
    const uint8_t rozkazy[4] = {0x9B, 0x94, 0x95, 0x96};
    for (int i = 0; i < 4; ++i) {
        lk::WykonanieRozkazu(rozkazy[i], 1, 0, 0);
        if (lk::KodWyniku != 0) return 0;
        s[i] = lk::ObszarOdpowiedzi[1];
        // Kept for the host as soon as it is known, whatever the later queries do.
        if (i == 0) FlagaBituStatusu = (s[0] >> 3) & 1;
    }
    lk::WykonanieRozkazu(0x66, 3, 0, 0);
    if (lk::KodWyniku != 0) return 0;
    auto bit = [](uint8_t b, int n) { return (b >> n & 1) != 0; };
    const bool A = !bit(s[0], 0), B = bit(s[0], 2);
    const bool D = bit(s[1], 1), F = bit(s[1], 3), H = bit(s[1], 4);
    const bool E = bit(s[2], 0), G = bit(s[2], 1), I = bit(s[2], 2), C = bit(s[2], 6);
    const bool K = !bit(s[3], 6);
    const bool J = lk::ObszarOdpowiedzi[1] != 0 || lk::ObszarOdpowiedzi[2] != 0;
    // Taken from the top: the first problem found is the one reported.
    uint32_t stan = 0;
    if (A)
        stan = 258;
    else if (B)
        stan = 259;
    else if (I)
        lk::KodWyniku = 47;
    else if (H)
        lk::KodWyniku = lk::KodBledu(63);
    else if (G)
        lk::KodWyniku = 48;
    else if (C)
        stan = 260;
    else if (D)
        stan = 261;
    else if (E)
        stan = 262;
    else if (F)
        stan = 263;
    else if (J)
        lk::KodWyniku = lk::KodBledu(98);
    else if (K)
        lk::KodWyniku = lk::KodBledu(102);
    lk::StanLinii = stan;
    if (lk::KodWyniku == 0 && lk::StanLinii != 0) lk::KodWyniku = kDrukarkaNieGotowa;
    return lk::KodWyniku == 0;
}

uint8_t OdczytanieTekstuDrukarki(uint8_t line, char text[256]) {
    lk::ObszarNadawania[1] = line;
    lk::WykonanieRozkazu(0x9D, 1, 1, 42);
    if (text != nullptr) text[0] = '\0';
    if (lk::KodWyniku != 0) return 0;
    const uint8_t forma = lk::ObszarOdpowiedzi[1];
    if (forma >= 2) {
        lk::KodWyniku = 23;
        return 0;
    }
    std::string s;
    const unsigned dlugosc = forma == 0 ? 40 : 20;
    for (unsigned i = 0; i < dlugosc; ++i) s += static_cast<char>(lk::ObszarOdpowiedzi[2 + i]);
    // A NUL from the printer ends the text.
    if (text != nullptr) WpiszTekst(text, std::string_view(s.c_str()));
    return 1;
}

uint8_t ZgodnoscTekstuDrukarki(uint8_t line, const char* expected) {
    char tekst[vorin::driverfiles::kTextSize];
    if (!OdczytanieTekstuDrukarki(line, tekst)) return 0;
    return NapisyRowne(tekst, expected);
}

}  // extern "C"
