#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vorin/driver.h"

namespace {

uint64_t Six(const char* text, bool* ok,
             uint8_t (*fn)(const char*, uint8_t*) = PoprawnaLiczbaSzesciobajtowa) {
    uint8_t v[6];
    std::memset(v, 0xAA, sizeof v);
    *ok = fn(text, v) != 0;
    uint64_t r = 0;
    for (int i = 5; i >= 0; --i) r = (r << 8) | v[i];
    return r;
}

TEST(SixByte, NotationsAndTheirOrder) {
    bool ok = false;
    EXPECT_EQ(Six("10", &ok), 10u);
    EXPECT_TRUE(ok);
    for (const char* sixteen : {"10H", "10h", "$10", "H10", "0x10", "0X10", "  10H  "}) {
        EXPECT_EQ(Six(sixteen, &ok), 16u) << sixteen;
        EXPECT_TRUE(ok) << sixteen;
    }
    EXPECT_EQ(Six("'AB'", &ok), 0x4241u);  // first character in the low byte
    EXPECT_TRUE(ok);
    EXPECT_EQ(Six(" ' ' ", &ok), 0x20u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Six("'abcdef'", &ok), 0x666564636261u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Six("FF", &ok), 255u);  // the marker may be left out when letters make it hex
    EXPECT_TRUE(ok);
}

TEST(SixByte, LimitsAndRejectionsLeaveZeros) {
    bool ok = false;
    EXPECT_EQ(Six("281474976710655", &ok), 281474976710655u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Six("FFFFFFFFFFFFH", &ok), 281474976710655u);
    EXPECT_TRUE(ok);
    for (const char* bad :
         {"281474976710656", "1FFFFFFFFFFFFH", "0X", "H", "$", "1 0", "", "   ", "''", "'abcdefg'",
          "'a", "12G", "-1", "+1", "1.0", "99999999999999999999999"}) {
        EXPECT_EQ(Six(bad, &ok), 0u) << bad;
        EXPECT_FALSE(ok) << bad;
    }
}

TEST(SixByte, EachNotationAlone) {
    bool ok = false;
    EXPECT_EQ(Six("  42 ", &ok, PoprawnaLiczbaSzesciobajtowaDec), 42u);
    EXPECT_TRUE(ok);
    Six("2AH", &ok, PoprawnaLiczbaSzesciobajtowaDec);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Six("42", &ok, PoprawnaLiczbaSzesciobajtowaHex), 0x42u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Six("HFFH", &ok, PoprawnaLiczbaSzesciobajtowaHex), 0u);  // one marker only
    EXPECT_FALSE(ok);
    EXPECT_EQ(Six("'1'", &ok, PoprawnaLiczbaSzesciobajtowaWCudzyslowie), 0x31u);
    EXPECT_TRUE(ok);
    Six("1", &ok, PoprawnaLiczbaSzesciobajtowaWCudzyslowie);
    EXPECT_FALSE(ok);

    char longText[256];
    std::memset(longText, ' ', sizeof longText);
    longText[0] = '1';  // no NUL: refused even though a cut copy would read as 1
    EXPECT_EQ(Six(longText, &ok), 0u);
    EXPECT_FALSE(ok);
}

TEST(IntegerValidators, LongRangeWordByteBoolean) {
    uint32_t l = 99;
    EXPECT_TRUE(PoprawnaLiczbaTypuLong("4294967295", &l));
    EXPECT_EQ(l, 4294967295u);
    EXPECT_FALSE(PoprawnaLiczbaTypuLong("4294967296", &l));
    EXPECT_EQ(l, 0u);
    l = 99;
    EXPECT_FALSE(PoprawnaLiczbaTypuLong("FFFFFFFFFFFFH", &l));
    EXPECT_EQ(l, 0u);
    EXPECT_FALSE(PoprawnaLiczbaTypuLong("0X", &l));

    EXPECT_FALSE(PoprawnaLiczbaZPodanegoZakresu("11", 1, 10, &l));
    EXPECT_EQ(l, 11u);
    EXPECT_TRUE(PoprawnaLiczbaZPodanegoZakresu("0AH", 1, 10, &l));
    EXPECT_EQ(l, 10u);
    EXPECT_FALSE(PoprawnaLiczbaZPodanegoZakresu("x", 1, 10, &l));
    EXPECT_EQ(l, 0u);
    EXPECT_TRUE(PoprawnaLiczbaZPodanegoZakresu("4294967295", 0, 4294967295u, &l));

    uint32_t w = 7;
    EXPECT_TRUE(PoprawnaLiczbaTypuWord("65535", &w));
    EXPECT_EQ(w, 65535u);
    EXPECT_FALSE(PoprawnaLiczbaTypuWord("65536", &w));
    EXPECT_EQ(w, 65535u);

    uint8_t b = 7;
    EXPECT_TRUE(PoprawnaLiczbaTypuByte("255", &b));
    EXPECT_EQ(b, 255);
    EXPECT_FALSE(PoprawnaLiczbaTypuByte("256", &b));
    EXPECT_EQ(b, 255);
    EXPECT_TRUE(PoprawnaLiczbaTypuByte(" 7 ", &b));
    EXPECT_EQ(b, 7);
    EXPECT_TRUE(PoprawnaLiczbaTypuByte("FFH", &b));
    EXPECT_EQ(b, 255);
    EXPECT_TRUE(PoprawnaLiczbaTypuByte("'A'", &b));
    EXPECT_EQ(b, 65);
    b = 3;
    EXPECT_FALSE(PoprawnaLiczbaTypuByte("1 0", &b));
    EXPECT_EQ(b, 3);

    uint8_t flag = 5;
    EXPECT_TRUE(PoprawnaLiczbaTypuBoolean("0", &flag));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(PoprawnaLiczbaTypuBoolean("1", &flag));
    EXPECT_EQ(flag, 1);
    EXPECT_FALSE(PoprawnaLiczbaTypuBoolean("2", &flag));
    EXPECT_EQ(flag, 1);
}

TEST(OtherValidators, FixedPointNumbers) {
    uint32_t d = 9;
    uint8_t places = 9;
    EXPECT_TRUE(PoprawnaLiczbaZmiennoprzecinkowa("12,50", &d, &places));
    EXPECT_EQ(d, 125u);
    EXPECT_EQ(places, 1);
    EXPECT_TRUE(PoprawnaLiczbaZmiennoprzecinkowa("7.000", &d, &places));
    EXPECT_EQ(d, 7u);
    EXPECT_EQ(places, 0);
    EXPECT_TRUE(PoprawnaLiczbaZmiennoprzecinkowa("0.05", &d, &places));
    EXPECT_EQ(d, 5u);
    EXPECT_EQ(places, 2);
    EXPECT_TRUE(PoprawnaLiczbaZmiennoprzecinkowa("0,0", &d, &places));
    EXPECT_EQ(d, 0u);
    EXPECT_EQ(places, 0);
    EXPECT_TRUE(PoprawnaLiczbaZmiennoprzecinkowa("100", &d, &places));
    EXPECT_EQ(d, 100u);  // zeros before any separator stay
    for (const char* bad : {".5", "5.", "1.2.3", "-1", "", " 1", "1 ", "4294967295.9", "1e3"}) {
        d = 9;
        places = 9;
        EXPECT_FALSE(PoprawnaLiczbaZmiennoprzecinkowa(bad, &d, &places)) << bad;
        EXPECT_EQ(d, 0u) << bad;
        EXPECT_EQ(places, 0) << bad;
    }
}

TEST(OtherValidators, EightByteNumbers) {
    uint8_t v[8];
    EXPECT_TRUE(PoprawnaLiczbaOsmiobajtowa("18446744073709551615", v));
    for (uint8_t x : v) EXPECT_EQ(x, 0xFF);
    EXPECT_FALSE(PoprawnaLiczbaOsmiobajtowa("18446744073709551616", v));
    for (uint8_t x : v) EXPECT_EQ(x, 0);
    std::memset(v, 1, sizeof v);
    EXPECT_TRUE(PoprawnaLiczbaOsmiobajtowa("", v));
    for (uint8_t x : v) EXPECT_EQ(x, 0);
    EXPECT_TRUE(PoprawnaLiczbaOsmiobajtowa(" 2 56 ", v));
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 1);
    EXPECT_FALSE(PoprawnaLiczbaOsmiobajtowa("10H", v));
}

TEST(OtherValidators, Parity) {
    uint8_t p = 9;
    EXPECT_TRUE(PoprawnyNapisOpisujacyParzystosc("even", &p));
    EXPECT_EQ(p, 2);
    EXPECT_TRUE(PoprawnyNapisOpisujacyParzystosc("o", &p));
    EXPECT_EQ(p, 1);
    EXPECT_TRUE(PoprawnyNapisOpisujacyParzystosc("None", &p));
    EXPECT_EQ(p, 0);
    p = 9;
    for (const char* bad : {"NO", " N", "", "EVENONE", "NN", "X"}) {
        EXPECT_FALSE(PoprawnyNapisOpisujacyParzystosc(bad, &p)) << bad;
        EXPECT_EQ(p, 9) << bad;
    }
}

std::vector<int> Nine(const uint8_t* b) { return std::vector<int>(b, b + 9); }

TEST(DateAndTime, Dates) {
    uint8_t d[9];
    EXPECT_TRUE(PoprawnaData("2004.02.29", 0, d));
    EXPECT_EQ(Nine(d), (std::vector<int>{4, 2, 29, 0, 4, 0, 2, 2, 9}));
    EXPECT_TRUE(PoprawnaData("04.02.29", 0, d));
    EXPECT_TRUE(PoprawnaData("99.12.31", 1, d));
    EXPECT_EQ(Nine(d), (std::vector<int>{99, 12, 31, 6, 3, 0, 12, 1, 15}));
    EXPECT_TRUE(PoprawnaData("01.04.30", 0, d));
    for (const char* bad :
         {"03.02.29", "04.13.01", "4.02.29", "04.00.10", "04.04.31", "04.01.00", "04.01", "04.01.",
          "004.01.01", "04.01.01.", "04.01.01.7", "", "2004.2.29", "AB.01.01"}) {
        EXPECT_FALSE(PoprawnaData(bad, 0, d)) << bad;
    }
    EXPECT_FALSE(PoprawnaData("04.13.01", 0, d));
    EXPECT_EQ(d[0], 4);  // bytes filled before the failing check stay
    EXPECT_EQ(d[3], 0);
}

TEST(DateAndTime, Times) {
    uint8_t t[9];
    EXPECT_TRUE(PoprawnyCzas("23:59", 0, t));
    EXPECT_EQ(Nine(t), (std::vector<int>{23, 59, 0, 2, 3, 5, 9, 0, 0}));
    EXPECT_TRUE(PoprawnyCzas("07:05:09", 0, t));
    EXPECT_EQ(Nine(t), (std::vector<int>{7, 5, 9, 0, 7, 0, 5, 0, 9}));
    EXPECT_TRUE(PoprawnyCzas("12:00:00", 1, t));
    EXPECT_EQ(t[3], 0);
    EXPECT_EQ(t[4], 12);
    for (const char* bad :
         {"24:00", "12:30:", "12:60", "12:00:60", "1:00", "12", "", "12:00:00:00", "12:00:5"}) {
        EXPECT_FALSE(PoprawnyCzas(bad, 0, t)) << bad;
    }
}

TEST(SmallHelpers, DigitsSeparatorsBlanksAndLength) {
    uint8_t v = 9;
    EXPECT_TRUE(ZnakJestCyfra('7', &v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(ZnakJestCyfra('a', &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(ZnakJestKropkaLubPrzecinkiem(','));
    EXPECT_TRUE(ZnakJestKropkaLubPrzecinkiem('.'));
    EXPECT_FALSE(ZnakJestKropkaLubPrzecinkiem(';'));

    char t[256] = "  a b\t ";
    UsuniecieSpacji(t);
    EXPECT_STREQ(t, "a b\t");
    char one[256] = " ";
    UsuniecieSpacji(one);
    EXPECT_STREQ(one, "");

    uint8_t n[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(DlugoscLiczbySzesciobajtowej(n), 1);
    n[2] = 1;
    EXPECT_EQ(DlugoscLiczbySzesciobajtowej(n), 3);
    n[5] = 1;
    EXPECT_EQ(DlugoscLiczbySzesciobajtowej(n), 6);
}

}  // namespace
