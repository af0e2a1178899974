// Writes glyph sheets to real files and reads them back with an independent
// PNG reader: chunk CRCs, the stored deflate blocks, Adler-32 and the pixels.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "loader/preview.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kImageSize = 36864;

std::uint32_t BitwiseCrc32(const unsigned char* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::uint32_t Be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

struct DecodedPng {
    std::uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    std::size_t paletteEntries = 0;
    std::vector<std::uint8_t> pixels;
};

// Reads what the writer produces (palette, 2 bits, stored deflate blocks) and
// fails the test on anything a PNG decoder would reject.
DecodedPng Decode(const std::vector<unsigned char>& file) {
    DecodedPng png;
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_GE(file.size(), 8u);
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) {
        ADD_FAILURE() << "no PNG signature";
        return png;
    }
    std::vector<unsigned char> zdata;
    std::vector<std::string> order;
    std::size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const std::uint32_t length = Be32(&file[pos]);
        if (pos + 12 + length > file.size()) {
            ADD_FAILURE() << "chunk runs past the end";
            return png;
        }
        const std::string type(file.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(pos + 8));
        const unsigned char* body = &file[pos + 8];
        EXPECT_EQ(BitwiseCrc32(&file[pos + 4], length + 4), Be32(&file[pos + 8 + length]))
            << "CRC of " << type;
        order.push_back(type);
        if (type == "IHDR") {
            EXPECT_EQ(13u, length);
            png.width = Be32(body);
            png.height = Be32(body + 4);
            png.bitDepth = body[8];
            png.colorType = body[9];
            EXPECT_EQ(0, body[10] | body[11] | body[12])
                << "compression, filter and interlace methods";
        } else if (type == "PLTE") {
            EXPECT_EQ(0u, length % 3);
            png.paletteEntries = length / 3;
        } else if (type == "IDAT") {
            zdata.insert(zdata.end(), body, body + length);
        }
        pos += 12 + length;
    }
    EXPECT_EQ(file.size(), pos) << "bytes after the last chunk";
    EXPECT_EQ((std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}), order);

    // zlib: header, stored blocks, Adler-32.
    if (zdata.size() < 6) {
        ADD_FAILURE() << "no image data";
        return png;
    }
    EXPECT_EQ(0x08, zdata[0] & 0x0F) << "deflate";
    EXPECT_EQ(0, (zdata[0] * 256 + zdata[1]) % 31) << "zlib header check";
    std::vector<unsigned char> raw;
    std::size_t z = 2;
    bool final = false;
    while (!final) {
        if (z + 5 > zdata.size()) {
            ADD_FAILURE() << "deflate stream cut short";
            return png;
        }
        final = (zdata[z] & 1) != 0;
        EXPECT_EQ(0, (zdata[z] >> 1) & 3) << "only stored blocks are written";
        const unsigned len = zdata[z + 1] | (zdata[z + 2] << 8);
        const unsigned nlen = zdata[z + 3] | (zdata[z + 4] << 8);
        EXPECT_EQ(len, ~nlen & 0xFFFFu);
        z += 5;
        if (z + len > zdata.size()) {
            ADD_FAILURE() << "stored block runs past the data";
            return png;
        }
        raw.insert(raw.end(), zdata.begin() + static_cast<std::ptrdiff_t>(z),
                   zdata.begin() + static_cast<std::ptrdiff_t>(z + len));
        z += len;
    }
    EXPECT_EQ(z + 4, zdata.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ((b << 16) | a, Be32(&zdata[zdata.size() - 4])) << "Adler-32";

    const std::size_t line = (static_cast<std::size_t>(png.width) * 2 + 7) / 8;
    if (png.bitDepth != 2 || raw.size() != png.height * (line + 1)) {
        ADD_FAILURE() << "image data of " << raw.size() << " bytes for " << png.width << "x"
                      << png.height;
        return png;
    }
    png.pixels.resize(static_cast<std::size_t>(png.width) * png.height);
    for (std::size_t y = 0; y < png.height; ++y) {
        const unsigned char* row = &raw[y * (line + 1)];
        EXPECT_EQ(0, row[0]) << "filter of row " << y;
        for (std::size_t x = 0; x < png.width; ++x)
            png.pixels[y * png.width + x] =
                static_cast<std::uint8_t>((row[1 + x / 4] >> (6 - 2 * (x % 4))) & 3);
    }
    return png;
}

std::vector<unsigned char> ReadAll(const fs::path& p) {
    const std::string bytes = vorin::test::ReadWholeFile(p.string());
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

class GlyphSheetTest : public ::testing::Test {
protected:
    vorin::test::TempDir temp_;
    const fs::path dir_{temp_.Path()};
};

void SetDot(std::vector<unsigned char>& image, std::size_t record, int row, int x) {
    const std::size_t at = record * 48 + static_cast<std::size_t>(row) * 2;
    const unsigned word = ((image[at] << 8) | image[at + 1]) | (0x8000u >> x);
    image[at] = static_cast<unsigned char>(word >> 8);
    image[at + 1] = static_cast<unsigned char>(word & 0xFF);
}

std::uint8_t PixelAt(const DecodedPng& png, vorin::SheetPoint p, std::size_t dx = 0,
                     std::size_t dy = 0) {
    return png.pixels.at((p.y + dy) * png.width + p.x + dx);
}

TEST_F(GlyphSheetTest, WritesAPngWhoseDotsAreTheImageDots) {
    std::vector<unsigned char> image(kImageSize, 0);
    SetDot(image, 0, 0, 0);               // single 0: top left dot
    SetDot(image, 65, 11, 4);             // single 'A': one dot
    SetDot(image, 256 + 2 * 65, 5, 9);    // double 'A', left half, its last column
    SetDot(image, 257 + 2 * 255, 23, 9);  // double 255, right half: bottom right dot of the sheet

    const fs::path out = dir_ / "sheet.png";
    std::string error = "untouched";
    ASSERT_TRUE(vorin::WriteGlyphSheetPng(image.data(), image.size(), out.string(), &error))
        << error;
    const DecodedPng png = Decode(ReadAll(out));
    ASSERT_FALSE(HasFailure());

    const vorin::GlyphSheet expected = vorin::RenderGlyphSheet(image.data(), image.size());
    EXPECT_EQ(expected.width, png.width);
    EXPECT_EQ(expected.height, png.height);
    EXPECT_EQ(3, png.colorType);
    EXPECT_EQ(4u, png.paletteEntries);
    EXPECT_TRUE(expected.pixels == png.pixels) << "decoded pixels differ from the rendered sheet";
    // Big enough to read: every dot a square of several pixels, all glyphs on one sheet.
    EXPECT_GE(vorin::kSheetDotPixels, 2u);
    EXPECT_GE(png.width, 16u * 30u * vorin::kSheetDotPixels);

    using vorin::GlyphDotOrigin;
    const std::size_t last = vorin::kSheetDotPixels - 1;
    EXPECT_EQ(vorin::kSheetDot, PixelAt(png, GlyphDotOrigin(false, 0, 0, 0)));
    EXPECT_EQ(vorin::kSheetDot, PixelAt(png, GlyphDotOrigin(false, 0, 0, 0), last, last));
    EXPECT_EQ(vorin::kSheetCell, PixelAt(png, GlyphDotOrigin(false, 0, 1, 0)));
    EXPECT_EQ(vorin::kSheetCell, PixelAt(png, GlyphDotOrigin(false, 0, 0, 1)));
    EXPECT_EQ(vorin::kSheetDot, PixelAt(png, GlyphDotOrigin(false, 65, 4, 11)));
    EXPECT_EQ(vorin::kSheetCell, PixelAt(png, GlyphDotOrigin(false, 65, 5, 11)));
    EXPECT_EQ(vorin::kSheetDot, PixelAt(png, GlyphDotOrigin(true, 65, 9, 5)));
    EXPECT_EQ(vorin::kSheetCell, PixelAt(png, GlyphDotOrigin(true, 65, 10, 5)));
    EXPECT_EQ(vorin::kSheetDot, PixelAt(png, GlyphDotOrigin(true, 255, 19, 23), last, last));
    EXPECT_EQ(vorin::kSheetCell, PixelAt(png, GlyphDotOrigin(true, 255, 18, 23)));
    // Cells are apart: the pixel right of a single-width cell is background.
    EXPECT_EQ(vorin::kSheetBackground, PixelAt(png, GlyphDotOrigin(false, 0, 9, 0), last + 1, 0));

    std::size_t dots = 0, labels = 0;
    for (std::uint8_t p : png.pixels) {
        dots += p == vorin::kSheetDot;
        labels += p == vorin::kSheetLabel;
    }
    EXPECT_EQ(4 * vorin::kSheetDotPixels * vorin::kSheetDotPixels, dots);
    EXPECT_GT(labels, 500u) << "titles and row/column labels";
}

TEST_F(GlyphSheetTest, SameImageGivesTheSameFile) {
    std::vector<unsigned char> image(kImageSize);
    std::mt19937 gen(437);
    for (auto& b : image) b = static_cast<unsigned char>(gen() & 0xFF);
    const fs::path a = dir_ / "a.png", b = dir_ / "b.png";
    ASSERT_TRUE(vorin::WriteGlyphSheetPng(image.data(), image.size(), a.string(), nullptr));
    ASSERT_TRUE(vorin::WriteGlyphSheetPng(image.data(), image.size(), b.string(), nullptr));
    const std::vector<unsigned char> bytes = ReadAll(a);
    EXPECT_TRUE(bytes == ReadAll(b));
    const DecodedPng png = Decode(bytes);
    EXPECT_FALSE(png.pixels.empty());
}

TEST_F(GlyphSheetTest, RefusesWrongSizesAndUnwritablePaths) {
    std::vector<unsigned char> image(kImageSize + 1, 0);
    const fs::path out = dir_ / "x.png";
    std::string error;
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(image.data(), kImageSize - 1, out.string(), &error));
    EXPECT_NE(std::string::npos, error.find("36864")) << error;
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(image.data(), kImageSize + 1, out.string(), &error));
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(nullptr, kImageSize, out.string(), &error));
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(image.data(), kImageSize, "", &error));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(vorin::RenderGlyphSheet(image.data(), 100).pixels.empty());

    const fs::path missing = dir_ / "no-such-folder" / "x.png";
    error.clear();
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(image.data(), kImageSize, missing.string(), &error));
    EXPECT_NE(std::string::npos, error.find(missing.string())) << error;
    EXPECT_FALSE(fs::exists(missing));
    // A folder where the file should go is refused, not replaced.
    EXPECT_FALSE(vorin::WriteGlyphSheetPng(image.data(), kImageSize, dir_.string(), &error));
    EXPECT_TRUE(fs::is_directory(dir_));
}

}  // namespace
