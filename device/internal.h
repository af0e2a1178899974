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

// Writes one data record to the output file; false when it is not written.
bool ZapisDoPlikuWyjsciowego(const std::string& linia);

}  // namespace vorin::device
