#include "driverfiles/digits.h"

#include <atomic>
#include <limits>

#include "driverfiles/text.h"
#include "vorin/driver.h"

namespace vorin::driverfiles {
namespace {
std::atomic<std::uint8_t> gLastStatus{0};
}

Conversion DecimalToNumber(std::string_view text) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : text) {
        if (c == ' ') continue;
        if (c < '0' || c > '9') {
            gLastStatus = 1;
            return {0, ConversionStatus::BadCharacter};
        }
        unsigned d = static_cast<unsigned>(c - '0');
        if (value > (kMax - d) / 10) {
            gLastStatus = 2;
            return {0, ConversionStatus::TooLarge};
        }
        value = value * 10 + d;
    }
    gLastStatus = 0;
    return {value, ConversionStatus::Valid};
}

std::string NumberToDecimal(std::uint64_t value) {
    // 2^64 - 1 has 20 digits; all of them are written.
    char field[20];
    int pos = 20;
    do {
        field[--pos] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::string(field + pos, field + 20);
}

std::uint64_t LoadBytes(const std::uint8_t* bytes, int count) {
    std::uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = (v << 8) | bytes[i];
    return v;
}

void StoreBytes(std::uint64_t value, std::uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

}  // namespace vorin::driverfiles

using namespace vorin::driverfiles;

extern "C" {

uint8_t LiczbaOsmiobajtowaZNapisu(const char* text, uint8_t value[8]) {
    std::size_t len = TextLength(text);
    Conversion c{0, ConversionStatus::BadCharacter};
    if (len > kTextMax) {
        gLastStatus = 1;
    } else {
        c = DecimalToNumber(std::string_view(text, len));
    }
    if (value != nullptr) StoreBytes(c.value, value, 8);
    return static_cast<std::uint8_t>(c.status);
}

uint8_t StatusKonwersjiLiczby(void) { return gLastStatus.load(); }

void NapisZLiczbyOsmiobajtowej(const uint8_t value[8], char* text) {
    if (text == nullptr) return;
    StoreText(text, value != nullptr ? NumberToDecimal(LoadBytes(value, 8)) : std::string("0"));
}

void NapisZLiczbySzesciobajtowej(const uint8_t value[6], char* text) {
    if (text == nullptr) return;
    StoreText(text, value != nullptr ? NumberToDecimal(LoadBytes(value, 6)) : std::string("0"));
}

}  // extern "C"
