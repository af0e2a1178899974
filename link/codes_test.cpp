// Result code translation, operator texts, checksum, byte helpers, areas.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "link/link.h"

using namespace vorin::link;

TEST(KodBleduTest, TranslatesEveryRangeAtItsEdges) {
    const std::pair<int, int> przypadki[] = {
        {0, 0},    {23, 23},  {62, 62},  {63, 101}, {67, 105},  {68, 107},  {79, 118},  {80, 200},
        {92, 212}, {93, 215}, {94, 217}, {95, 220}, {106, 231}, {107, 107}, {200, 200}, {255, 255},
    };
    for (auto [numer, kod] : przypadki) EXPECT_EQ(KodBledu(numer), kod) << "error number " << numer;
}

TEST(KodBleduTest, NeverProducesTheGapsInThePrinterNumbers) {
    std::set<int> wyniki;
    for (int n = 0; n <= 106; ++n) wyniki.insert(KodBledu(static_cast<uint8_t>(n)));
    EXPECT_EQ(wyniki.size(), 107u) << "two error numbers share a code";
    for (int luka : {106, 213, 214, 216, 218, 219}) EXPECT_FALSE(wyniki.count(luka)) << luka;
    for (int luka = 119; luka <= 199; ++luka) EXPECT_FALSE(wyniki.count(luka)) << luka;
}

TEST(OpisKoduWynikuTest, GivesTheOperatorTexts) {
    EXPECT_STREQ(OpisKoduWyniku(1), "blad sumy CRC");
    EXPECT_STREQ(OpisKoduWyniku(2), "blad weryfikacji danych");
    EXPECT_STREQ(OpisKoduWyniku(20), "timeout nadawania");
    EXPECT_STREQ(OpisKoduWyniku(21), "timeout odbierania");
    EXPECT_STREQ(OpisKoduWyniku(23), "niepoprawna odpowiedz z drukarki");
    EXPECT_STREQ(OpisKoduWyniku(24), "drukarka odpowiedziala NAK na sekwencje sterujaca");
    for (int kod : {0, 3, 22, 26, 52, 102, 222, 255})
        EXPECT_STREQ(OpisKoduWyniku(kod), "inny blad");
}

namespace {
uint32_t Crc(const void* dane, std::size_t n) {
    SumaKontrolna = 0;
    for (std::size_t i = 0; i < n; ++i) AktualizacjaCRC(static_cast<const uint8_t*>(dane)[i]);
    return SumaKontrolna;
}
}  // namespace

TEST(AktualizacjaCRCTest, MatchesCrc16Arc) {
    EXPECT_EQ(Crc("123456789", 9), 0xBB3Du);
    const uint8_t numerBloku320[] = {0x01, 0x40};
    EXPECT_EQ(Crc(numerBloku320, 2), 0x6000u);
    // Single bytes from 0 give the table entries themselves.
    const uint8_t jeden = 1, ff = 0xFF;
    EXPECT_EQ(Crc(&jeden, 1), 0xC0C1u);
    EXPECT_EQ(Crc(&ff, 1), 0x4040u);
    // A message followed by its own checksum, low byte first, leaves 0: the
    // property the multiplexer's answer check relies on.
    uint8_t ramka[11] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x3D, 0xBB};
    EXPECT_EQ(Crc(ramka, sizeof ramka), 0u);
    SumaKontrolna = 0;
}

TEST(BajtSlowaTest, CountsBytesFromTheLowestAndRejectsOthers) {
    const uint32_t slowo = 0x11223344;
    EXPECT_EQ(BajtSlowa(1, slowo), 0x44);
    EXPECT_EQ(BajtSlowa(2, slowo), 0x33);
    EXPECT_EQ(BajtSlowa(3, slowo), 0x22);
    EXPECT_EQ(BajtSlowa(4, slowo), 0x11);
    EXPECT_EQ(BajtSlowa(0, slowo), 0);
    EXPECT_EQ(BajtSlowa(5, slowo), 0);
    EXPECT_EQ(BajtSlowa(255, slowo), 0);
    // The loader's block number 320, high byte first.
    EXPECT_EQ(BajtSlowa(2, 320), 1);
    EXPECT_EQ(BajtSlowa(1, 320), 64);
}

TEST(ObszarTest, PositionsOutsideTheAreaTouchNothing) {
    Obszar<254> obszar;
    obszar[1] = 0xA1;
    obszar[254] = 0xB2;
    obszar[0] = 0xEE;
    obszar[255] = 0xEE;
    obszar[100000] = 0xEE;
    const Obszar<254>& staly = obszar;
    EXPECT_EQ(staly[0], 0);
    EXPECT_EQ(staly[255], 0);
    EXPECT_EQ(staly[1], 0xA1);
    EXPECT_EQ(staly[254], 0xB2);
    EXPECT_EQ(obszar.Dane()[0], 0xA1);
    EXPECT_EQ(obszar.Dane()[253], 0xB2);
    for (std::size_t p = 2; p < 254; ++p) ASSERT_EQ(staly[p], 0) << p;
}
