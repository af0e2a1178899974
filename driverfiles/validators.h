// The field validators on strings; the exported C functions wrap these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorin::driverfiles {

inline constexpr std::uint64_t kSixByteLimit = std::uint64_t{1} << 48;

std::string TrimBlanks(std::string_view text);

std::optional<std::uint64_t> ParseSixByteDecimal(std::string_view text);
std::optional<std::uint64_t> ParseSixByteHex(std::string_view text);
std::optional<std::uint64_t> ParseSixByteQuoted(std::string_view text);
// Decimal first, then hexadecimal, then quoted.
std::optional<std::uint64_t> ParseSixByte(std::string_view text);
std::optional<std::uint32_t> ParseLong(std::string_view text);

struct FixedPoint {
    std::uint32_t digits;
    std::uint8_t decimals;
};
std::optional<FixedPoint> ParseFixedPoint(std::string_view text);

// 0 none, 1 odd, 2 even.
std::optional<std::uint8_t> ParseParity(std::string_view text);

// Fills out[0..8] as the date and time validators do; false on rejection
// with the bytes filled so far left in place.
bool ParseDate(std::string_view text, bool hexDigits, std::uint8_t out[9]);
bool ParseTime(std::string_view text, bool hexDigits, std::uint8_t out[9]);

}  // namespace vorin::driverfiles
