// Result codes, link state and the checksum.
#include "link/link.h"
#include "link/mux.h"

#include <array>

namespace vorin::link {

namespace {

// Every setting's default, in one place: the variables start from these and
// UstawieniaDomyslneLacza puts them back.
constexpr uint8_t kDomyslnyPort = 1;
constexpr uint32_t kDomyslnaPredkosc = 9600;
constexpr uint8_t kDomyslnaParzystosc = 2;  // even
constexpr uint8_t kDomyslnyKanal = 1;
constexpr uint32_t kDomyslnyTimeout = 3;  // seconds, both directions
constexpr uint8_t kDomyslneCTS = 1;

}  // namespace

uint8_t KodWyniku = 0;
uint8_t NumerPortu = kDomyslnyPort;
uint32_t Predkosc = kDomyslnaPredkosc;
uint8_t KodParzystosci = kDomyslnaParzystosc;
uint8_t TrybMux = 0;
uint8_t NumerKanalu = kDomyslnyKanal;
uint32_t TimeoutZapisu = kDomyslnyTimeout;
uint32_t TimeoutOdczytu = kDomyslnyTimeout;
uint8_t UstawienieCTS = kDomyslneCTS;
uint8_t PortOtwarty = 0;
uint8_t BladPortu = 0;
uint32_t SumaKontrolna = 0;
Obszar<255> ObszarNadawania;
Obszar<254> ObszarOdpowiedzi;
uint8_t ZnacznikOdpowiedzi = 0;
uint32_t StanLinii = 0;
uint32_t PredkoscDrukarki = 0;
uint8_t KanalDrukarki = 0;
uint32_t TimeoutZapisuMux = 0;
uint32_t TimeoutOdczytuMux = 0;
uint8_t LimitPowtorzenMux = 0;
uint8_t KodTypuUrzadzenia = 0;
uint32_t LicznikRozkazow = 0;

void UstawieniaDomyslneLacza() {
    KodWyniku = 0;
    NumerPortu = kDomyslnyPort;
    Predkosc = kDomyslnaPredkosc;
    KodParzystosci = kDomyslnaParzystosc;
    TrybMux = 0;
    NumerKanalu = kDomyslnyKanal;
    TimeoutZapisu = kDomyslnyTimeout;
    TimeoutOdczytu = kDomyslnyTimeout;
    UstawienieCTS = kDomyslneCTS;
    PortOtwarty = 0;
    BladPortu = 0;
    SumaKontrolna = 0;
    ObszarNadawania.Zeruj();
    ObszarOdpowiedzi.Zeruj();
    ZnacznikOdpowiedzi = 0;
    StanLinii = 0;
    PredkoscDrukarki = 0;
    KanalDrukarki = 0;
    TimeoutZapisuMux = 0;
    TimeoutOdczytuMux = 0;
    LimitPowtorzenMux = 0;
    KodTypuUrzadzenia = 0;
    LicznikRozkazow = 0;
    UstawieniaDomyslneMux();
}

uint8_t KodBledu(uint8_t numerBledu) {
    const unsigned n = numerBledu;
    // The printer's own error numbers sit at 101 and above, with gaps where the
    // printer has no such error; the error numbers are packed without them.
    if (n <= 62) return static_cast<uint8_t>(n);
    if (n <= 67) return static_cast<uint8_t>(n + 38);
    if (n <= 79) return static_cast<uint8_t>(n + 39);
    if (n <= 92) return static_cast<uint8_t>(n + 120);
    if (n == 93) return 215;
    if (n == 94) return 217;
    if (n <= 106) return static_cast<uint8_t>(n + 125);
    return static_cast<uint8_t>(n);
}

const char* OpisKoduWyniku(uint8_t kod) {
    switch (kod) {
    case 1: return "blad sumy CRC";
    case 2: return "blad weryfikacji danych";
    case 20: return "timeout nadawania";
    case 21: return "timeout odbierania";
    case 23: return "niepoprawna odpowiedz z drukarki";
    case 24: return "drukarka odpowiedziala NAK na sekwencje sterujaca";
    default: return "inny blad";
    }
}

namespace {

constexpr std::array<uint32_t, 256> TablicaCRC() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xA001u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTablicaCRC = TablicaCRC();
static_assert(kTablicaCRC[1] == 0xC0C1 && kTablicaCRC[2] == 0xC181 && kTablicaCRC[3] == 0x0140 &&
              kTablicaCRC[255] == 0x4040);

}  // namespace

void AktualizacjaCRC(uint8_t bajt) {
    // Masking keeps the word a CRC-16 even if a caller left garbage in the upper half.
    const uint32_t suma = SumaKontrolna & 0xFFFFu;
    SumaKontrolna = (suma >> 8) ^ kTablicaCRC[(suma ^ bajt) & 0xFFu];
}

uint8_t BajtSlowa(uint8_t n, uint32_t slowo) {
    if (n < 1 || n > 4) return 0;
    return static_cast<uint8_t>(slowo >> (8u * (n - 1u)));
}

}  // namespace vorin::link
