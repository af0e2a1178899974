// Checks the committed code page image against what the printer and the
// loader rely on, and that the copy built into the program is that file.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "loader/codepage_image.h"
#include "tests/support/files.h"

namespace {

constexpr std::size_t kRecord = 48;
constexpr int kRows = 24;

std::vector<unsigned char> ReadImageFile() {
    const std::string bytes = vorin::test::ReadWholeFile(VORIN_CODEPAGE_BIN);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

class CodePageImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gImage = new std::vector<unsigned char>(ReadImageFile()); }
    static void TearDownTestSuite() {
        delete gImage;
        gImage = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(gImage->size(), vorin::kImageSize) << "reading " << VORIN_CODEPAGE_BIN;
    }

    static std::uint16_t Word(std::size_t record, int row) {
        const unsigned char* p =
            gImage->data() + record * kRecord + static_cast<std::size_t>(row) * 2;
        return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    }
    static std::size_t SingleRecord(int code) { return static_cast<std::size_t>(code); }
    static std::size_t LeftRecord(int code) { return 256 + 2 * static_cast<std::size_t>(code); }
    static std::size_t RightRecord(int code) { return 257 + 2 * static_cast<std::size_t>(code); }

    // Dot (x, y) of a glyph; x runs 0..9 single width, 0..19 double width.
    static bool Dot(bool wide, int code, int x, int y) {
        const std::size_t record =
            !wide ? SingleRecord(code) : (x < 10 ? LeftRecord(code) : RightRecord(code));
        return (Word(record, y) & (0x8000u >> (x % 10))) != 0;
    }
    static int Width(bool wide) { return wide ? 20 : 10; }
    static bool Blank(std::size_t record) {
        for (int y = 0; y < kRows; ++y)
            if (Word(record, y) != 0) return false;
        return true;
    }
    static bool GlyphBlank(bool wide, int code) {
        return wide ? Blank(LeftRecord(code)) && Blank(RightRecord(code))
                    : Blank(SingleRecord(code));
    }
    static bool RowsBlank(bool wide, int code, int from, int to) {
        for (int y = from; y <= to; ++y)
            for (int x = 0; x < Width(wide); ++x)
                if (Dot(wide, code, x, y)) return false;
        return true;
    }
    static std::string Row(bool wide, int code, int y) {
        std::string s;
        for (int x = 0; x < Width(wide); ++x) s += Dot(wide, code, x, y) ? '#' : '.';
        return s;
    }
    static std::string Column(bool wide, int code, int x) {
        std::string s;
        for (int y = 0; y < kRows; ++y) s += Dot(wide, code, x, y) ? '#' : '.';
        return s;
    }

    static std::vector<unsigned char>* gImage;
};
std::vector<unsigned char>* CodePageImage::gImage = nullptr;

TEST_F(CodePageImage, FileIsTheEmbeddedImageAndStartsWithTheSmallZero) {
    ASSERT_EQ(0, std::memcmp(gImage->data(), vorin::kCodePageImage, vorin::kImageSize))
        << "the program carries a different image than " << VORIN_CODEPAGE_BIN;
    const unsigned char start[] = {0x1E, 0x00, 0x3F, 0x00, 0x73, 0x80, 0x61, 0x80};
    EXPECT_EQ(0, std::memcmp(gImage->data(), start, sizeof start));
    EXPECT_EQ(vorin::kBlockCount * vorin::kBlockSize, gImage->size());
}

TEST_F(CodePageImage, TellingRowsAreExact) {
    const std::array<std::uint16_t, kRows> zero = {0x1E00, 0x3F00, 0x7380, 0x6180, 0x6180, 0x6180,
                                                   0x6180, 0x6180, 0x6180, 0x7380, 0x3F00, 0x1E00};
    const std::array<std::uint16_t, kRows> a = {
        0x0C00, 0x0C00, 0x1E00, 0x1E00, 0x3F00, 0x3300, 0x7380, 0x6180, 0x6180, 0x6180,
        0x6180, 0x7F80, 0x7F80, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180};
    const std::array<std::uint16_t, kRows> wideLeft = {
        0x00C0, 0x01C0, 0x0180, 0x0380, 0x0380, 0x0300, 0x0700, 0x0700, 0x0600, 0x0E00,
        0x0C00, 0x0FC0, 0x1FC0, 0x1FC0, 0x3800, 0x3800, 0x3000, 0x7000, 0x6000, 0x6000};
    const std::array<std::uint16_t, kRows> wideRight = {
        0x8000, 0xC000, 0xC000, 0xC000, 0xE000, 0x6000, 0x7000, 0x7000, 0x3000, 0x3800,
        0x1800, 0xF800, 0xFC00, 0xFC00, 0x0E00, 0x0E00, 0x0600, 0x0700, 0x0300, 0x0300};
    for (int y = 0; y < kRows; ++y) {
        const auto i = static_cast<std::size_t>(y);
        EXPECT_EQ(zero[i], Word(SingleRecord(0), y)) << "single 0, row " << y;
        EXPECT_EQ(a[i], Word(SingleRecord(65), y)) << "single 65, row " << y;
        EXPECT_EQ(wideLeft[i], Word(LeftRecord(65), y)) << "double 65 left, row " << y;
        EXPECT_EQ(wideRight[i], Word(RightRecord(65), y)) << "double 65 right, row " << y;
    }
}

TEST_F(CodePageImage, LowSixBitsAreClearExceptTheWideCornerBar) {
    for (std::size_t record = 0; record < 768; ++record) {
        for (int y = 0; y < kRows; ++y) {
            const std::uint16_t w = Word(record, y);
            if (record == RightRecord(218) && (y == 11 || y == 12)) {
                EXPECT_EQ(0xFFF0, w) << "double 218 right half, row " << y;
            } else {
                EXPECT_EQ(0, w & 0x3F) << "record " << record << ", row " << y;
            }
        }
    }
}

TEST_F(CodePageImage, BlankCodesAndTheBlocksTheyFill) {
    for (int code = 0; code < 256; ++code) {
        const bool blankSingle =
            (code >= 14 && code <= 23) || (code >= 26 && code <= 32) || code == 255;
        const bool blankDouble = code <= 32 || code == 255;
        EXPECT_EQ(blankSingle, GlyphBlank(false, code)) << "single width code " << code;
        EXPECT_EQ(blankDouble, GlyphBlank(true, code)) << "double width code " << code;
    }
    auto zeroBytes = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if ((*gImage)[i] != 0) return false;
        return true;
    };
    for (std::size_t block : {3u, 5u})
        EXPECT_TRUE(zeroBytes(block * vorin::kBlockSize, vorin::kBlockSize)) << block;
    for (std::size_t block = 48; block <= 59; ++block)
        EXPECT_TRUE(zeroBytes(block * vorin::kBlockSize, vorin::kBlockSize)) << block;
    EXPECT_TRUE(zeroBytes(60 * vorin::kBlockSize, 96));
    EXPECT_NE(0,
              (*gImage)[60 * vorin::kBlockSize + 96 + 1] | (*gImage)[60 * vorin::kBlockSize + 96]);
    // The last block ends with the blank double-width 255: still part of the image.
    EXPECT_TRUE(zeroBytes(vorin::kImageSize - 2 * kRecord, 2 * kRecord));
}

TEST_F(CodePageImage, SmallDigitsSitInTheUpperTwelveRows) {
    std::set<std::vector<std::uint16_t>> shapes;
    for (int code = 0; code <= 9; ++code) {
        EXPECT_TRUE(RowsBlank(false, code, 12, 23)) << "small digit " << code;
        EXPECT_FALSE(RowsBlank(false, code, 0, 11)) << "small digit " << code;
        std::vector<std::uint16_t> rows;
        for (int y = 0; y < 12; ++y) rows.push_back(Word(SingleRecord(code), y));
        shapes.insert(rows);
    }
    EXPECT_EQ(10u, shapes.size()) << "two small digits look the same";
    for (int code : {10, 11, 12, 13, 24, 25}) EXPECT_FALSE(GlyphBlank(false, code)) << code;
}

TEST_F(CodePageImage, FullBlockAndSmallSquareAreCheckerboards) {
    for (bool wide : {false, true}) {
        for (int code : {219, 254}) {
            int dots = 0;
            for (int y = 0; y < kRows; ++y) {
                for (int x = 0; x < Width(wide); ++x) {
                    if (!Dot(wide, code, x, y)) continue;
                    ++dots;
                    EXPECT_FALSE(x + 1 < Width(wide) && Dot(wide, code, x + 1, y))
                        << code << " at " << x << "," << y;
                    EXPECT_FALSE(y + 1 < kRows && Dot(wide, code, x, y + 1))
                        << code << " at " << x << "," << y;
                    if (code == 219 && x + 1 < Width(wide) && y + 1 < kRows) {
                        EXPECT_TRUE(Dot(wide, code, x + 1, y + 1))
                            << code << " at " << x << "," << y;
                    }
                }
            }
            EXPECT_GT(dots, wide ? 40 : 20) << "code " << code << (wide ? " double" : " single");
        }
        // The full block covers the whole cell, corner to corner.
        EXPECT_TRUE(Dot(wide, 219, 0, 0) || Dot(wide, 219, 1, 0));
        EXPECT_TRUE(Dot(wide, 219, Width(wide) - 1, kRows - 1) ||
                    Dot(wide, 219, Width(wide) - 2, kRows - 1));
    }
}

TEST_F(CodePageImage, PrintableCodesCarryGlyphsThatKeepOutOfTheDescentUnlessTheyDescend) {
    for (bool wide : {false, true}) {
        for (int code = 33; code <= 254; ++code) EXPECT_FALSE(GlyphBlank(wide, code)) << code;
        for (const char* s :
             {"ABCDEFGHIKLMNOPRSTUVWXYZ", "0123456789", "abcdefhiklmnorstuvwxz", "!#%+<=>?"})
            for (const char* c = s; *c != '\0'; ++c)
                EXPECT_TRUE(RowsBlank(wide, static_cast<unsigned char>(*c), 20, 23))
                    << *c << (wide ? " double" : "");
        for (const char* c = "gjpqy"; *c != '\0'; ++c)
            EXPECT_FALSE(RowsBlank(wide, static_cast<unsigned char>(*c), 20, 23))
                << *c << (wide ? " double" : "");
        // Double-width letters are drawn wide, not left in one half.
        for (const char* c = "HMWmw"; wide && *c != '\0'; ++c) {
            const int code = static_cast<unsigned char>(*c);
            EXPECT_FALSE(Blank(LeftRecord(code)) || Blank(RightRecord(code))) << *c;
        }
    }
}

// Box drawing, codes 179 to 218: which arms leave the cell on each side
// (0 none, 1 single line, 2 double line), in the order up, down, left, right.
constexpr const char* kBoxArms[40] = {
    "1100", "1110", "1120", "2210", "0210", "0120", "2220", "2200", "0220", "2020",
    "2010", "1020", "0110", "1001", "1011", "0111", "1101", "0011", "1111", "1102",
    "2201", "2002", "0202", "2022", "0222", "2202", "0022", "2222", "1022", "2011",
    "0122", "0211", "2001", "1002", "0102", "0201", "2211", "1122", "1010", "0101"};

TEST_F(CodePageImage, BoxDrawingLinesMeetTheirNeighbours) {
    for (bool wide : {false, true}) {
        const int last = Width(wide) - 1;
        // The reference edges: a single and a double vertical and horizontal line.
        const std::string vertical[3] = {std::string(static_cast<std::size_t>(Width(wide)), '.'),
                                         Row(wide, 179, 0), Row(wide, 186, 0)};
        const std::string horizontal[3] = {std::string(kRows, '.'), Column(wide, 196, 0),
                                           Column(wide, 205, 0)};
        EXPECT_EQ(vertical[1], Row(wide, 179, kRows - 1));
        EXPECT_EQ(horizontal[1], Column(wide, 196, last));
        EXPECT_EQ("...........##...........", horizontal[1]);
        EXPECT_EQ(".........##..##.........", horizontal[2]);
        for (int code = 179; code <= 218; ++code) {
            const char* arms = kBoxArms[code - 179];
            const auto arm = [&](int i) { return static_cast<std::size_t>(arms[i] - '0'); };
            EXPECT_EQ(vertical[arm(0)], Row(wide, code, 0))
                << "top edge of " << code << (wide ? " double" : "");
            EXPECT_EQ(vertical[arm(1)], Row(wide, code, kRows - 1)) << "bottom edge of " << code;
            EXPECT_EQ(horizontal[arm(2)], Column(wide, code, 0))
                << "left edge of " << code << (wide ? " double" : "");
            EXPECT_EQ(horizontal[arm(3)], Column(wide, code, last)) << "right edge of " << code;
        }
    }
    // The single vertical runs through the middle of the cell, two dots thick.
    EXPECT_EQ("....##....", Row(false, 179, 0));
    EXPECT_EQ(".........##.........", Row(true, 179, 0));
}

}  // namespace
