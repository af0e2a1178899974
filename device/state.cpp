// The device-type record, the host switches and the seam towards the run.
#include <cstring>

#include "device/device.h"
#include "driverfiles/text.h"

namespace vorin::device {

uint8_t PrzelacznikOdczytuNumeru = 0;
uint8_t PrzelacznikPorownaniaNumeru = 0;
uint8_t PrzelacznikOdczytuTypu = 0;
uint8_t PrzelacznikLiczeniaPLU = 0;
uint8_t PrzelacznikWysokiegoZakresu = 0;
uint8_t IdentyfikacjaZPliku = 0;
uint8_t FlagaBituStatusu = 0;

namespace {

VorinDeviceType gTyp{};
// Used until the run installs its own fifth file handle.
int32_t gWlasnyUchwytOpisow = -1;
PlikiUrzadzenia gPliki{};

}  // namespace

VorinDeviceType& TypUrzadzenia() { return gTyp; }

void UstawPlikiUrzadzenia(const PlikiUrzadzenia& pliki) { gPliki = pliki; }

int32_t& UchwytPlikuOpisow() {
    return gPliki.uchwytOpisow ? *gPliki.uchwytOpisow : gWlasnyUchwytOpisow;
}

std::string SciezkaPlikuOpisow() {
    const char* sciezka = gPliki.sciezkaOpisow ? gPliki.sciezkaOpisow() : nullptr;
    if (sciezka == nullptr) return "ECRTBUF.TXT";
    // Never read past a text buffer, whatever the run left in it.
    return std::string(sciezka, strnlen(sciezka, driverfiles::kTextMax));
}

bool PlikWyjsciowyWlaczony() { return gPliki.plikWyjsciowy && gPliki.plikWyjsciowy(); }

void ZakonczenieRuchu() {
    if (gPliki.zakonczenieSterownika) gPliki.zakonczenieSterownika();
}

void ZerowanieStanuUrzadzenia() {
    ZerowanieSzczegolowychDanychOTypieUrzadzenia(&gTyp);
    PrzelacznikWysokiegoZakresu = 0;
    IdentyfikacjaZPliku = 0;
}

}  // namespace vorin::device

extern "C" {

void ZerowanieSzczegolowychDanychOTypieUrzadzenia(VorinDeviceType* record) {
    if (record == nullptr) return;
    std::memset(record, 0, sizeof *record);
}

void vorin_get_device_type(VorinDeviceType* out) {
    if (out != nullptr) *out = vorin::device::TypUrzadzenia();
}

}  // extern "C"
