// The diagnostic printer's formatter and output.
#include "diag/diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "vorin/driver.h"

namespace vorin::diag {
namespace {

constexpr char kPoczatek[] = "***DEBUG*";
constexpr char kPlikDebug[] = "debug.txt";

struct Segment {
    bool tylkoTekst = false;
    char konwersja = 0;
    uint8_t szerokosc = 0;
    char dopisek[kDlugoscDopisku + 1] = {};
};

bool Cyfra(char c) { return c >= '0' && c <= '9'; }

// Copies the text up to the next '%' or the end, keeping the first 18
// characters; returns where the copy stopped.
const char* CzytajDopisek(const char* p, Segment& s) {
    std::size_t n = 0;
    for (; *p != '\0' && *p != '%'; ++p)
        if (n < kDlugoscDopisku) s.dopisek[n++] = *p;
    s.dopisek[n] = '\0';
    return p;
}

// Parses into the table; counts every segment but stores only what fits,
// so a format with too many parts is found before anything overruns. A lone
// '%' at the end is a segment with no conversion that ends the parse.
std::size_t Parsuj(const char* format, Segment (&tabela)[kLiczbaSegmentow]) {
    std::size_t liczba = 0;
    Segment zbedny;
    auto nowy = [&]() -> Segment& {
        Segment& s = liczba < kLiczbaSegmentow ? tabela[liczba] : zbedny;
        s = Segment{};
        ++liczba;
        return s;
    };
    const char* p = format;
    if (*p != '%' && *p != '\0') {
        Segment& s = nowy();
        s.tylkoTekst = true;
        p = CzytajDopisek(p, s);
    }
    while (*p == '%') {
        Segment& s = nowy();
        s.konwersja = p[1];
        if (s.konwersja == '\0') break;
        p += 2;
        if ((s.konwersja == 'd' || s.konwersja == 's') && Cyfra(*p)) {
            s.szerokosc = static_cast<uint8_t>(*p++ - '0');
            if (Cyfra(*p)) s.szerokosc = static_cast<uint8_t>(s.szerokosc + 10 * (*p++ - '0'));
        }
        p = CzytajDopisek(p, s);
    }
    return liczba;
}

void Dopisz(std::string& linia, const char* tekst, std::size_t limit) {
    if (tekst == nullptr) return;
    std::size_t wolne = kDlugoscLinii - linia.size();
    std::size_t n = 0;
    while (n < limit && n < wolne && tekst[n] != '\0') ++n;
    linia.append(tekst, n);
}

std::mutex gWydruk;

}  // namespace

char* LiczbaNaNapisCpp(int32_t wartosc, char* wyjscie, uint8_t cyfry, bool zeZnakiem) {
    if (wyjscie == nullptr) return nullptr;
    char* p = wyjscie;
    uint32_t modul = static_cast<uint32_t>(wartosc);
    if (zeZnakiem && wartosc < 0) {
        *p++ = '-';
        modul = 0u - modul;
    }
    char pozycje[10];
    for (int i = 9; i >= 0; --i) {
        pozycje[i] = static_cast<char>('0' + modul % 10);
        modul /= 10;
    }
    int pierwsza = 0;
    while (pierwsza < 9 && pozycje[pierwsza] == '0') ++pierwsza;
    const int wymuszona = cyfry >= 10 ? 0 : 10 - cyfry;
    if (wymuszona < pierwsza) pierwsza = wymuszona;
    for (int i = pierwsza; i < 10; ++i) *p++ = pozycje[i];
    *p = '\0';
    return wyjscie;
}

Wynik Formatowanie(const char* format, const Argument* argumenty, std::size_t liczba) {
    Wynik w;
    w.nazwaPliku = kPlikDebug;
    if (format == nullptr) format = "";
    w.linia = kPoczatek;
    if (std::strchr(format, '%') == nullptr) {
        Dopisz(w.linia, format, kDlugoscLinii);
        return w;
    }
    Segment tabela[kLiczbaSegmentow];
    const std::size_t segmenty = Parsuj(format, tabela);
    if (segmenty > kLiczbaSegmentow) {
        w.bladFormatu = true;
        w.linia = kBladFormatu;
        return w;
    }
    w.pauza = true;
    std::size_t nastepny = 0;
    auto argument = [&]() -> const Argument* {
        const Argument* a = nastepny < liczba ? &argumenty[nastepny] : nullptr;
        ++nastepny;
        return a;
    };
    for (std::size_t i = 0; i < segmenty; ++i) {
        const Segment& s = tabela[i];
        if (s.tylkoTekst) {
            Dopisz(w.linia, s.dopisek, kDlugoscDopisku);
            continue;
        }
        switch (s.konwersja) {
        case 'c': {
            const Argument* a = argument();
            if (a != nullptr && !a->tekst && static_cast<char>(a->liczba) != '\0') {
                const char znak[2] = {static_cast<char>(a->liczba), '\0'};
                Dopisz(w.linia, znak, 1);
            }
            break;
        }
        case 'd': {
            const Argument* a = argument();
            if (a != nullptr && !a->tekst) {
                char liczbaTekst[12];
                Dopisz(w.linia, LiczbaNaNapisCpp(a->liczba, liczbaTekst, s.szerokosc, true), 11);
            }
            break;
        }
        case 's': {
            const Argument* a = argument();
            if (a != nullptr && a->tekst) Dopisz(w.linia, a->napis, kDlugoscTekstu);
            break;
        }
        case 'F': {
            const Argument* a = argument();
            if (a != nullptr && a->tekst && a->napis != nullptr) {
                std::size_t n = 0;
                while (a->napis[n] != '\0' && w.nazwaPliku.size() < kDlugoscNazwyPliku)
                    w.nazwaPliku.push_back(a->napis[n++]);
            }
            continue;  // its trailing text is dropped
        }
        default: continue;  // unknown: nothing, and no argument taken
        }
        Dopisz(w.linia, s.dopisek, kDlugoscDopisku);
    }
    return w;
}

void KomunikatZListy(const char* format, const Argument* argumenty, std::size_t liczba) {
    const Wynik w = Formatowanie(format, argumenty, liczba);
    std::lock_guard<std::mutex> blokada(gWydruk);
    std::fwrite(w.linia.data(), 1, w.linia.size(), stdout);
    std::fflush(stdout);
    if (w.bladFormatu) return;
    DopisanieDoPlikuDebug(w.nazwaPliku.c_str(), w.linia.c_str());
    if (!w.pauza) return;
    // One character, as the operator's Enter leaves it; end of input returns
    // at once and so never hangs.
    (void)std::getchar();
    std::fflush(stdout);
    DopisanieDoPlikuDebug(w.nazwaPliku.c_str(), "\n");
}

}  // namespace vorin::diag

using namespace vorin::diag;

extern "C" {

void KomunikatDiagnostyczny(int32_t zarezerwowany, const char* format, ...) {
    (void)zarezerwowany;
    if (format == nullptr) format = "";
    // Which argument is a number and which a text follows from the format;
    // a format with too many parts takes none.
    Segment tabela[kLiczbaSegmentow];
    std::size_t segmenty = std::strchr(format, '%') != nullptr ? Parsuj(format, tabela) : 0;
    if (segmenty > kLiczbaSegmentow) segmenty = 0;
    Argument lista[kLiczbaSegmentow];
    std::size_t liczba = 0;
    va_list ap;
    va_start(ap, format);
    for (std::size_t i = 0; i < segmenty; ++i) {
        const char k = tabela[i].tylkoTekst ? '\0' : tabela[i].konwersja;
        if (k == 'c' || k == 'd')
            lista[liczba++] = Argument(va_arg(ap, int));
        else if (k == 's' || k == 'F')
            lista[liczba++] = Argument(va_arg(ap, const char*));
    }
    va_end(ap);
    KomunikatZListy(format, lista, liczba);
}

void DopisanieDoPlikuDebug(const char* nazwaPliku, const char* tekst) {
    if (nazwaPliku == nullptr || tekst == nullptr) return;
    char kopia[kDlugoscZapisu + 1];
    std::size_t n = 0;
    while (n < kDlugoscZapisu && tekst[n] != '\0') {
        kopia[n] = tekst[n];
        ++n;
    }
    kopia[n] = '\0';
    // Text mode: the system's own line break in the file.
    std::FILE* plik = std::fopen(nazwaPliku, "a");
    if (plik == nullptr) return;
    std::fputs(kopia, plik);
    std::fputc('\n', plik);
    std::fclose(plik);
}

char* LiczbaNaNapis(int32_t wartosc, char* wyjscie, uint8_t cyfry, uint8_t zeZnakiem) {
    return LiczbaNaNapisCpp(wartosc, wyjscie, cyfry, zeZnakiem != 0);
}

}  // extern "C"
