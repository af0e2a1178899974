#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "vorin/driver.h"

namespace {

uint64_t Load(const uint8_t* v, int n) {
    uint64_t r = 0;
    for (int i = n - 1; i >= 0; --i) r = (r << 8) | v[i];
    return r;
}

void Store(uint64_t x, uint8_t* v, int n) {
    for (int i = 0; i < n; ++i, x >>= 8) v[i] = static_cast<uint8_t>(x);
}

struct Parsed {
    uint64_t value;
    uint8_t status;
};

Parsed Parse(const char* text) {
    uint8_t v[8];
    std::memset(v, 0xAA, sizeof v);
    uint8_t status = LiczbaOsmiobajtowaZNapisu(text, v);
    EXPECT_EQ(StatusKonwersjiLiczby(), status);
    return {Load(v, 8), status};
}

TEST(DigitStrings, DecimalToEightBytes) {
    EXPECT_EQ(Parse("1 2 3").value, 123u);
    EXPECT_EQ(Parse("1 2 3").status, 0);
    EXPECT_EQ(Parse("18446744073709551615").value, UINT64_MAX);
    EXPECT_EQ(Parse("18446744073709551615").status, 0);
    Parsed over = Parse("18446744073709551616");
    EXPECT_EQ(over.value, 0u);
    EXPECT_EQ(over.status, 2);
    EXPECT_EQ(Parse("99999999999999999999").status, 2);
    EXPECT_EQ(Parse("000000000000000000000000000001").value, 1u);  // zeros never overflow
    Parsed bad = Parse("12a");
    EXPECT_EQ(bad.value, 0u);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(Parse("-1").status, 1);
    EXPECT_EQ(Parse("").value, 0u);
    EXPECT_EQ(Parse("").status, 0);
    EXPECT_EQ(Parse("   ").status, 0);
    EXPECT_EQ(Parse("1\t2").status, 1);  // only blanks are skipped
}

std::string Text8(uint64_t x) {
    uint8_t v[8];
    Store(x, v, 8);
    char t[256];
    std::memset(t, 'X', sizeof t);
    NapisZLiczbyOsmiobajtowej(v, t);
    return t;
}

TEST(DigitStrings, EightBytesToDecimal) {
    EXPECT_EQ(Text8(0), "0");
    EXPECT_EQ(Text8(1000000), "1000000");
    EXPECT_EQ(Text8(9999999999999999999ull), "9999999999999999999");
    // Twenty digits are written in full rather than cut to a 19-digit field.
    EXPECT_EQ(Text8(10000000000000000000ull), "10000000000000000000");
    EXPECT_EQ(Text8(UINT64_MAX), "18446744073709551615");
    for (uint64_t x : {1ull, 9ull, 10ull, 4294967296ull, 123456789012345678ull}) {
        EXPECT_EQ(Text8(x), std::to_string(x));
        EXPECT_EQ(Parse(Text8(x).c_str()).value, x);
    }
}

TEST(DigitStrings, SixBytesToDecimal) {
    uint8_t v[6];
    char t[256];
    std::memset(v, 0xFF, sizeof v);
    NapisZLiczbySzesciobajtowej(v, t);
    EXPECT_STREQ(t, "281474976710655");
    Store(0x010203040506ull, v, 6);
    NapisZLiczbySzesciobajtowej(v, t);
    EXPECT_STREQ(t, "1108152157446");
}

}  // namespace
