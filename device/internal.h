// Helpers shared by the device command files; not part of the interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorin::device {

bool PlikWyjsciowyWlaczony();
// Ends the run through the seam, leaving the result code as it is.
void ZakonczenieRuchu();

// Stores text into a text buffer, cut to 255 characters.
void WpiszTekst(char* bufor, std::string_view tekst);

// n in decimal with '0' in front to at least `cyfry` digits.
std::string Dziesietnie(uint64_t n, unsigned cyfry = 1);

// A byte from the printer as it may stand in a record or a header line: TAB,
// CR, LF and the other control bytes would add a field or split the line, so
// they travel as a blank, as NUL does.
inline char ZnakRekordu(uint8_t b) { return b < 0x20 || b == 0x7F ? ' ' : static_cast<char>(b); }

// DodanieCzesciOpisu without the PLU switch: a PLU part is added whenever its
// text is given. For descriptions composed from what a record holds.
void DolaczenieCzesciOpisu(char* opis, uint8_t rodzaj, const char* tekst);

// Writes one data record to the output file; false when it is not written.
bool ZapisDoPlikuWyjsciowego(const std::string& linia);

}  // namespace vorin::device
