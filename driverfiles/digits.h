// Unsigned 64-bit numbers to and from decimal text. Eight- and six-byte
// numbers are stored least significant byte first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorin::driverfiles {

enum class ConversionStatus : std::uint8_t { Valid = 0, BadCharacter = 1, TooLarge = 2 };

struct Conversion {
    std::uint64_t value;  // 0 unless valid
    ConversionStatus status;
};

// Blanks anywhere are skipped; an empty text or blanks only give 0, valid.
Conversion DecimalToNumber(std::string_view text);
std::string NumberToDecimal(std::uint64_t value);

std::uint64_t LoadBytes(const std::uint8_t* bytes, int count);
void StoreBytes(std::uint64_t value, std::uint8_t* bytes, int count);

}  // namespace vorin::driverfiles
