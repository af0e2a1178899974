// Device commands and identification: what the driver knows about the printer
// it talks to (number, type, model, identification, article count) and the
// operations on the printer's articles, keypad, status and display.
//
// Every printer exchange goes through vorin::link::WykonanieRozkazu; every
// outcome is the link's result code (vorin::link::KodWyniku). Like the link,
// all of this state belongs to the one thread that runs the driver.
//
// Where the driver run meets this folder
// ---------------------------------------
// The driver run (driver/) owns the driver files and the run itself; this
// folder owns the device-type record, the host switches of the device
// commands and the identified-from-file flag. The run hands over what it owns
// through UstawPlikiUrzadzenia() once at start-up:
//   - the fifth driver file's handle (the description file, "ECRTBUF.TXT" by
//     default), which every operation here closes first if it is open and
//     which a successful lookup leaves open for the run finish to close;
//   - the fifth driver file's name, read at every use;
//   - the output-file switch, read at every use;
//   - ZakonczenieSterownika, which the article reads call to end the run on an
//     invalid record or a failed write.
// Header line 3 (the identifier line) and the output file handle are read
// and written through driverfiles (setHeaderLine/headerLine and
// driverFileState().outputHandle), which both folders share.
// Until the run installs its files, the description file is "ECRTBUF.TXT" in
// the current folder with a handle kept here, the output-file switch is off
// and an invalid article record only leaves its result code.
//
// The driver reset (ZerowanieStanuSterownika) calls ZerowanieStanuUrzadzenia().
// vorin_set_switch() of the host interface sets the switches below.
#pragma once

#include <cstdint>
#include <string>

#include "vorin/driver.h"

namespace vorin::device {

// ---- Seam towards the driver run ----------------------------------------------------

struct PlikiUrzadzenia {
    int32_t* uchwytOpisow = nullptr;            // fifth driver file handle, -1 = closed
    const char* (*sciezkaOpisow)() = nullptr;   // fifth driver file name
    bool (*plikWyjsciowy)() = nullptr;          // output-file switch
    void (*zakonczenieSterownika)() = nullptr;  // ends the run (keeps the result code)
};
// Copied; a null member keeps the default described above.
void UstawPlikiUrzadzenia(const PlikiUrzadzenia& pliki);

// ---- State ------------------------------------------------------------------------

// The process-wide device-type record (its C layout is VorinDeviceType).
VorinDeviceType& TypUrzadzenia();

// Host switches: all 0 at load; set only by the host (vorin_set_switch).
extern uint8_t PrzelacznikOdczytuNumeru;     // VORIN_READ_NUMBER: the run start reads the number
extern uint8_t PrzelacznikPorownaniaNumeru;  // VORIN_COMPARE_NUMBER
extern uint8_t PrzelacznikOdczytuTypu;       // VORIN_READ_TYPE: the run start reads the type
extern uint8_t PrzelacznikLiczeniaPLU;       // VORIN_COUNT_PLU: count the articles
extern uint8_t PrzelacznikWysokiegoZakresu;  // VORIN_HIGH_RANGE: article numbers + 65023

// Set by OdczytanieTypuUrzadzenia when the printer was found in the
// description file; the run start reads it.
extern uint8_t IdentyfikacjaZPliku;

// Status bit flag of StanDrukarki (bit 3 of the 0x9B status); kept for the host.
extern uint8_t FlagaBituStatusu;

// What the driver reset clears here: the record, the high-range switch and
// the identified-from-file flag.
void ZerowanieStanuUrzadzenia();

// ---- Identification (the exported ones are in vorin/driver.h) -------------------------

bool OdczytanieKoduTypu();
// kind 0 empties; 1 model name, 2 PLU text, 3 generation text, 4 version text.
void DodanieCzesciOpisu(char* opis, uint8_t rodzaj, const char* tekst);
bool WyszukanieOpisuWPliku();
bool DopisanieOpisuDoPliku();
bool ZapisanieOpisuUrzadzenia(int32_t uchwyt);
bool UstalenieLiczbyPLU(uint32_t& liczba);
bool ProbaNumeruPLU(uint32_t numer, bool& pozaZakresem);

// Type classes of a type code.
bool ParaSpecjalna(uint8_t kod);   // 111, 112
bool TypRozszerzony(uint8_t kod);  // 100 and above, except the special pair
bool KlasaP(uint8_t kod);          // 117

// The description file handle in use (the run's fifth file, or the one kept
// here until the run installs its own). A successful lookup leaves it open.
int32_t& UchwytPlikuOpisow();

// The description file's name in use (the run's fifth file, or the default).
std::string SciezkaPlikuOpisow();

// ---- Articles, keypad, status, text: declared with C linkage in vorin/driver.h ----
// OdczytanieLiczbyPLU, OdczytanieArtykulu, OdczytanieArtykuluKrotkiego,
// RozkazArtykulu, RozkazArtykulu04, ZapisanieBleduArtykulu,
// NacisniecieKlawisza, WpisanieLiczby, SeriaEscape, SekwencjaKlawiszy,
// WpisanieTekstu, StanDrukarki, OdczytanieTekstuDrukarki, ZgodnoscTekstuDrukarki.

// The printer's key code for a key, 0 when the key is not on the keypad.
uint8_t KodKlawisza(uint8_t klawisz);

// A 6-byte number (least significant byte first) as 13 decimal digits.
std::string Pole13Cyfr(const uint8_t bajty[6]);

}  // namespace vorin::device
