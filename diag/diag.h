// The diagnostic printer: "***DEBUG*" lines on the console and appended to
// the debug file, built by a small formatter with the conversions c, d, s and
// F only. The exported C functions (KomunikatDiagnostyczny, the variadic one;
// DopisanieDoPlikuDebug; LiczbaNaNapis) are declared in vorin/driver.h; C++
// callers use Komunikat, which checks each argument's type.
//
// Limits (a call never writes past them): a line of 225 characters, a text
// argument of 149, a segment's trailing text of 18, 18 segments, a debug file
// name of 15 characters; longer data is cut there.
//
// Threads: any thread; one call at a time prints (the others wait), so lines
// never mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

namespace vorin::diag {

inline constexpr std::size_t kDlugoscLinii = 225;
inline constexpr std::size_t kDlugoscTekstu = 149;
inline constexpr std::size_t kDlugoscDopisku = 18;
inline constexpr std::size_t kLiczbaSegmentow = 18;
inline constexpr std::size_t kDlugoscNazwyPliku = 15;
inline constexpr std::size_t kDlugoscZapisu = 299;  // DopisanieDoPlikuDebug's copy
inline constexpr char kBladFormatu[] = "ERROR: funkcji Printf, za duzo parametrow !!!";

// One argument of a diagnostic line: a number (c, d) or a text (s, F).
struct Argument {
    bool tekst = false;
    int32_t liczba = 0;
    const char* napis = nullptr;

    Argument() = default;
    template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
    Argument(T wartosc) : liczba(static_cast<int32_t>(wartosc)) {}
    Argument(const char* s) : tekst(true), napis(s) {}
    Argument(const std::string& s) : tekst(true), napis(s.c_str()) {}
};

// The printer's whole run for one format: console, debug file, and the pause
// on standard input after a line with conversions. An argument of the wrong
// kind for its conversion, or a missing one, adds nothing.
void KomunikatZListy(const char* format, const Argument* argumenty, std::size_t liczba);

template <class... A>
void Komunikat(const char* format, const A&... argumenty) {
    if constexpr (sizeof...(A) == 0) {
        KomunikatZListy(format, nullptr, 0);
    } else {
        const Argument lista[] = {Argument(argumenty)...};
        KomunikatZListy(format, lista, sizeof...(A));
    }
}

// The line the printer would write for this format (no console, no file, no
// pause): for tests and the fuzz target. *nazwaPliku gets the debug file name
// the call would use; *blad is true for the too-many-segments case (then the
// line is the error text).
struct Wynik {
    std::string linia;
    std::string nazwaPliku;
    bool bladFormatu = false;
    bool pauza = false;  // a line with conversions waits for a key
};
Wynik Formatowanie(const char* format, const Argument* argumenty, std::size_t liczba);

// The number as decimal text into `wyjscie` (at least 12 bytes): see
// LiczbaNaNapis in vorin/driver.h.
char* LiczbaNaNapisCpp(int32_t wartosc, char* wyjscie, uint8_t cyfry, bool zeZnakiem);

}  // namespace vorin::diag
