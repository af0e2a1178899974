// The field validators on strings; the exported C functions wrap these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorin::driverfiles {

inline constexpr std::uint64_t kSixByteLimit = std::uint64_t{1} << 48;

std::string trimBlanks(std::string_view text);

std::optional<std::uint64_t> parseSixByteDecimal(std::string_view text);
std::optional<std::uint64_t> parseSixByteHex(std::string_view text);
std::optional<std::uint64_t> parseSixByteQuoted(std::string_view text);
// Decimal first, then hexadecimal, then quoted.
std::optional<std::uint64_t> parseSixByte(std::string_view text);
std::optional<std::uint32_t> parseLong(std::string_view text);

struct FixedPoint {
    std::uint32_t digits;
    std::uint8_t decimals;
};
std::optional<FixedPoint> parseFixedPoint(std::string_view text);

// 0 none, 1 odd, 2 even.
std::optional<std::uint8_t> parseParity(std::string_view text);

// Fills out[0..8] as the date and time validators do; false on rejection
// with the bytes filled so far left in place.
bool parseDate(std::string_view text, bool hexDigits, std::uint8_t out[9]);
bool parseTime(std::string_view text, bool hexDigits, std::uint8_t out[9]);

}  // namespace vorin::driverfiles
