// The description file of printers already met (the driver's fifth file),
// and the type read that recognises or records the printer.
#include <algorithm>
#include <cstring>
#include <string>

#include "device/device.h"
#include "device/internal.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "platform/file.h"

namespace vorin::device {

namespace lk = vorin::link;
namespace df = vorin::driverfiles;

namespace {

constexpr uint8_t kRekordOdrzucony = 60;
constexpr uint8_t kBrakZapisuDoPliku = 59;
constexpr uint8_t kBladZapisuDoPliku = 61;
constexpr uint8_t kBladPlikuWyjsciowego = 17;
constexpr uint32_t kNieliczone = 65535;
constexpr const char* kNieliczoneTekst = "?????";
// Another driver holds the file's lock only for one lookup or one append.
constexpr uint32_t kCzekanieNaBlokadeMs = 10000;

// Other drivers may use the file at the same time, so it is opened shared;
// the host's own choice for every other file is put back right after.
bool OtwarcieWspolne(int32_t& uchwyt, const std::string& sciezka, uint8_t tryb) {
    df::DriverFileState& st = df::TheDriverFileState();
    const bool wylacznie = st.exclusiveOpen.exchange(false);
    const bool ok = OtwartoPlik(&uchwyt, sciezka.c_str(), tryb) != 0;
    st.exclusiveOpen = wylacznie;
    return ok;
}

void ZamkniecieOpisow() {
    int32_t& h = UchwytPlikuOpisow();
    if (h >= 0) ZamknieciePliku(&h);
    h = -1;
}

std::string Pole(const char* linia, uint8_t n, bool& jest) {
    char pole[df::kTextSize];
    jest = NapisZawieraDana(linia, n, pole) != 0;
    return jest ? std::string(pole) : std::string();
}

// The PLU text of a record: a count, or "?????" for a printer whose articles
// were not counted (read back as "not counted", so the record stays usable).
bool LiczbaZPola(const std::string& pole, uint32_t& liczba) {
    if (pole == kNieliczoneTekst) {
        liczba = kNieliczone;
        return true;
    }
    return PoprawnaLiczbaTypuWord(pole.c_str(), &liczba) != 0;
}

// The PLU part follows the PLU text, not the switch: a record keeps the
// description it was written with, counted or not, whatever the switch of a
// later run says.
void ZlozenieOpisu(char* opis, const char* model, const char* plu, const char* generacja,
                   const char* wersja) {
    DolaczenieCzesciOpisu(opis, 0, "");
    DolaczenieCzesciOpisu(opis, 1, model);
    DolaczenieCzesciOpisu(opis, 2, std::strcmp(plu, kNieliczoneTekst) == 0 ? "" : plu);
    DolaczenieCzesciOpisu(opis, 3, generacja);
    DolaczenieCzesciOpisu(opis, 4, wersja);
}

// The eight fields of the printer's description record; false when they
// would not fit one line (cut short, the record would never match again).
bool TekstRekorduOpisu(std::string& rekord) {
    VorinDeviceType& t = TypUrzadzenia();
    std::string numer = "xx";
    if (PoprawnaLiczbaTypuByte(t.numberText, &t.deviceNumber)) numer = t.numberText;
    rekord = std::string(t.identification) + '\t' + numer + '\t' + t.typeText + '\t' + t.modelName +
             '\t' + t.pluText + '\t' + t.generationText + '\t' + t.versionText + '\t' +
             t.description;
    return rekord.size() <= df::kTextMax - 1;
}

}  // namespace

bool WyszukanieOpisuWPliku() {
    VorinDeviceType& t = TypUrzadzenia();
    ZamkniecieOpisow();
    int32_t& h = UchwytPlikuOpisow();
    if (!OtwarcieWspolne(h, SciezkaPlikuOpisow(), 0)) {
        h = -1;
        return false;  // not known yet
    }
    // Shared with other lookups; an append waits, so no record is met half written.
    if (!platform::FileLock(h, false, kCzekanieNaBlokadeMs)) {
        ZamkniecieOpisow();
        return false;  // and the append that follows reports the stuck file
    }
    t.pluCount = 0;
    char linia[df::kTextSize];
    uint8_t bladFormatu = 0;
    while (OdczytanoZPlikuLinieDanych(h, linia, &bladFormatu)) {
        lk::KodWyniku = kRekordOdrzucony;
        bool j1, j2, j3, j4, j5, j6, j7, j8;
        const std::string id = Pole(linia, 1, j1);
        const std::string numer = Pole(linia, 2, j2);
        uint8_t bajt = 0;
        if (!j1 || !j2 || !(numer == "xx" || PoprawnaLiczbaTypuByte(numer.c_str(), &bajt))) break;
        const std::string typ = Pole(linia, 3, j3);
        const std::string model = Pole(linia, 4, j4);
        const std::string plu = Pole(linia, 5, j5);
        const std::string gen = Pole(linia, 6, j6);
        const std::string wer = Pole(linia, 7, j7);
        const std::string opis = Pole(linia, 8, j8);
        if (!j3 || !PoprawnaLiczbaTypuByte(typ.c_str(), &bajt) || !j4 || !j5 || !j6 || !j7 ||
            !PoprawnaLiczbaTypuByte(wer.c_str(), &bajt) || !j8)
            break;
        if (id != t.identification) {
            lk::KodWyniku = 0;
            continue;
        }
        char zlozony[df::kTextSize];
        ZlozenieOpisu(zlozony, model.c_str(), plu.c_str(), gen.c_str(), wer.c_str());
        uint32_t liczba = 0;
        if (opis != zlozony || !LiczbaZPola(plu, liczba)) break;
        lk::KodWyniku = 0;
        t.pluCount = liczba;
        WpiszTekst(t.pluText, plu);
        platform::FileUnlock(h);
        return true;  // left open: the next operation on it or the run finish closes it
    }
    ZamkniecieOpisow();
    if (bladFormatu) lk::KodWyniku = kRekordOdrzucony;
    return false;
}

bool ZapisanieOpisuUrzadzenia(int32_t uchwyt) {
    std::string rekord;
    return TekstRekorduOpisu(rekord) && ZapisanoDoPlikuLinieDanych(uchwyt, rekord.c_str()) != 0;
}

bool DopisanieOpisuDoPliku() {
    ZamkniecieOpisow();
    // Only a printer whose type was read has a record: one without would
    // match no printer and refuse every lookup after it.
    if (TypUrzadzenia().description[0] == '\0') return lk::KodWyniku == 0;
    int32_t& h = UchwytPlikuOpisow();
    // One handle and one exclusive lock for the whole step: whether the last
    // line lacks its end and the append after it, so that two drivers never
    // both end the same line (which would leave an empty one, where every
    // reader stops).
    if (!OtwarcieWspolne(h, SciezkaPlikuOpisow(), 3) ||
        !platform::FileLock(h, true, kCzekanieNaBlokadeMs)) {
        ZamkniecieOpisow();
        lk::KodWyniku = kBrakZapisuDoPliku;
        return false;
    }
    bool zakonczona = true;
    if (!Moje_feof(h)) {
        // The flag belongs to the reader of the driver's input file too:
        // it is borrowed here and put back.
        df::DriverFileState& st = df::TheDriverFileState();
        const bool flagaCzytnika = st.lastLineTerminated.exchange(true);
        char linia[df::kTextSize];
        // An empty or over-long line also reads as "no line", so the end is
        // the file's end; the bound only stops a handle that fails to move.
        for (uint32_t n = 0; !Moje_feof(h) && n < (1u << 24); ++n) OdczytanoZPlikuLinie(h, linia);
        zakonczona = st.lastLineTerminated.exchange(flagaCzytnika);
    }
    std::string rekord;
    if (lk::KodWyniku == 0 && !TekstRekorduOpisu(rekord)) lk::KodWyniku = kBladZapisuDoPliku;
    if (lk::KodWyniku == 0) {
        // The repair and the record in one write: a reader never meets the
        // one without the other.
        std::string zapis = zakonczona ? "" : "\r\n";
        zapis += df::kDataChar + rekord + df::LineTerminator();
        const bool zapisany = platform::FileSeekToEnd(h) &&
                              platform::FileWrite(h, zapis.data(), zapis.size()) ==
                                  static_cast<int64_t>(zapis.size()) &&
                              (df::TheDriverFileState().rewrite.load() || platform::FileCommit(h));
        if (!zapisany) lk::KodWyniku = kBladZapisuDoPliku;
    }
    ZamkniecieOpisow();  // and with it the lock
    return lk::KodWyniku == 0;
}

}  // namespace vorin::device

extern "C" uint8_t OdczytanieTypuUrzadzenia(void) {
    using namespace vorin::device;
    namespace lk = vorin::link;
    namespace df = vorin::driverfiles;
    VorinDeviceType& t = TypUrzadzenia();
    if (!OdczytanieKoduTypu()) return 0;
    if (WyszukanieOpisuWPliku()) {
        IdentyfikacjaZPliku = 1;
        std::string zrodlo = "identyfikator odczytany z urzadzenia i pliku " + SciezkaPlikuOpisow();
        // The record's description stands as written (its PLU text is the
        // record's too), unless the host wants the articles counted and the
        // record has no count: then they are counted now and the source says so.
        if (PrzelacznikLiczeniaPLU && std::strcmp(t.pluText, kNieliczoneTekst) == 0) {
            uint32_t liczba = 0;
            if (!UstalenieLiczbyPLU(liczba)) return 0;
            t.pluCount = liczba;
            WpiszTekst(t.pluText, std::to_string(liczba));
            // Said even when a long path leaves it no room in the text.
            const std::string dopisek = ", liczba PLU odczytana z urzadzenia";
            zrodlo.resize(std::min(zrodlo.size(), df::kTextMax - dopisek.size()));
            zrodlo += dopisek;
        }
        WpiszTekst(t.sourceText, zrodlo);
    } else {
        if (lk::KodWyniku != 0) return 0;
        IdentyfikacjaZPliku = 0;
        WpiszTekst(t.sourceText, "identyfikator odczytany z urzadzenia");
        if (PrzelacznikLiczeniaPLU) {
            uint32_t liczba = 0;
            if (!UstalenieLiczbyPLU(liczba)) return 0;
            t.pluCount = liczba;
        } else {
            t.pluCount = kNieliczone;
        }
        WpiszTekst(t.pluText,
                   PrzelacznikLiczeniaPLU ? std::to_string(t.pluCount) : kNieliczoneTekst);
    }
    ZlozenieOpisu(t.description, t.modelName, t.pluText, t.generationText, t.versionText);

    if (!IdentyfikacjaZPliku && !PrzelacznikOdczytuNumeru && !DopisanieOpisuDoPliku()) return 0;

    // The identifier line keeps its second field (the multiplexer parameters).
    std::string stara = df::HeaderLine(3);
    std::string drugie;
    if (const size_t tab = stara.find('\t'); tab != std::string::npos) {
        drugie = stara.substr(tab + 1);
        drugie = drugie.substr(0, drugie.find('\t'));
    }
    std::string linia = t.description;
    if (t.sourceText[0]) linia += std::string(" (") + t.sourceText + ")";
    // A header line holds 254 characters after its '#'; a long source (the
    // file's path) is cut, never the multiplexer parameters after it.
    const size_t miejsce = df::kTextMax - 1 - (drugie.empty() ? 0 : drugie.size() + 1);
    if (linia.size() > miejsce) linia.resize(miejsce);
    if (!drugie.empty()) linia += '\t' + drugie;
    df::SetHeaderLine(3, linia);

    if (PlikWyjsciowyWlaczony() && !ZapisanoDoPlikuNaglowek(df::TheDriverFileState().outputHandle))
        lk::KodWyniku = kBladPlikuWyjsciowego;
    return lk::KodWyniku == 0;
}
