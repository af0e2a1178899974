#include "loader/preview.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vorin {
namespace {

constexpr std::size_t kImageSize = 36864;
constexpr std::size_t kRecordSize = 48;
constexpr std::size_t kRows = 24;
constexpr std::size_t kCodes = 256;
constexpr std::size_t kGridSide = 16;

// Sheet geometry, in pixels.
constexpr std::size_t kMargin = 12;
constexpr std::size_t kCellGap = 2;
constexpr std::size_t kLabelScale = 2;
constexpr std::size_t kLabelAdvance = 6 * kLabelScale;
constexpr std::size_t kLabelHeight = 7 * kLabelScale;
constexpr std::size_t kTitleBand = kLabelHeight + 10;
constexpr std::size_t kHeaderBand = kLabelHeight + 6;
constexpr std::size_t kRowLabelBand = 2 * kLabelAdvance + 8;
constexpr std::size_t kPanelGap = 24;
constexpr std::size_t kCellHeight = kRows * kSheetDotPixels;

constexpr std::size_t CellWidth(bool doubleWidth) {
    return (doubleWidth ? 20 : 10) * kSheetDotPixels;
}
constexpr std::size_t PanelWidth(bool doubleWidth) {
    return kRowLabelBand + kGridSide * (CellWidth(doubleWidth) + kCellGap) - kCellGap;
}
constexpr std::size_t PanelLeft(bool doubleWidth) {
    return doubleWidth ? kMargin + PanelWidth(false) + kPanelGap : kMargin;
}
constexpr std::size_t GridTop() { return kMargin + kTitleBand + kHeaderBand; }
constexpr std::size_t SheetWidth() { return PanelLeft(true) + PanelWidth(true) + kMargin; }
constexpr std::size_t SheetHeight() {
    return GridTop() + kGridSide * (kCellHeight + kCellGap) - kCellGap + kMargin;
}

// 5 x 7 letters for the labels; one byte a row, the low five bits.
struct LabelGlyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};
constexpr LabelGlyph kLabelFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

class Canvas {
public:
    explicit Canvas(GlyphSheet& sheet) : s_(sheet) {}
    void Fill(std::size_t x, std::size_t y, std::size_t w, std::size_t h, std::uint8_t v) {
        for (std::size_t j = y; j < y + h && j < s_.height; ++j)
            for (std::size_t i = x; i < x + w && i < s_.width; ++i) s_.pixels[j * s_.width + i] = v;
    }
    void Text(std::size_t x, std::size_t y, const char* t) {
        for (; *t != '\0'; ++t, x += kLabelAdvance) {
            for (const LabelGlyph& g : kLabelFont) {
                if (g.c != *t) continue;
                for (std::size_t r = 0; r < 7; ++r)
                    for (std::size_t col = 0; col < 5; ++col)
                        if (g.rows[r] & (0x10u >> col))
                            Fill(x + col * kLabelScale, y + r * kLabelScale, kLabelScale,
                                 kLabelScale, kSheetLabel);
                break;
            }
        }
    }

private:
    GlyphSheet& s_;
};

char HexDigit(std::size_t v) { return "0123456789ABCDEF"[v & 15]; }

std::uint16_t RowWord(const unsigned char* image, std::size_t record, std::size_t row) {
    const unsigned char* p = image + record * kRecordSize + row * 2;
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// CRC-32 of PNG chunks (ISO 3309, reflected, polynomial 0xEDB88320).
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t Crc32(const unsigned char* data, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Adler32(const std::vector<unsigned char>& data) {
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : data) {
        a = (a + byte) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char type[5],
              const std::vector<unsigned char>& body) {
    Put32(out, static_cast<std::uint32_t>(body.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

SheetPoint GlyphDotOrigin(bool doubleWidth, unsigned code, unsigned dotX, unsigned dotY) {
    const std::size_t row = (code / kGridSide) % kGridSide, col = code % kGridSide;
    SheetPoint p;
    p.x = PanelLeft(doubleWidth) + kRowLabelBand + col * (CellWidth(doubleWidth) + kCellGap) +
          dotX * kSheetDotPixels;
    p.y = GridTop() + row * (kCellHeight + kCellGap) + dotY * kSheetDotPixels;
    return p;
}

GlyphSheet RenderGlyphSheet(const unsigned char* image, std::size_t size) {
    GlyphSheet sheet;
    if (image == nullptr || size != kImageSize) return sheet;
    sheet.width = SheetWidth();
    sheet.height = SheetHeight();
    sheet.pixels.assign(sheet.width * sheet.height, kSheetBackground);
    Canvas canvas(sheet);

    for (int set = 0; set < 2; ++set) {
        const bool wide = set == 1;
        const std::size_t left = PanelLeft(wide);
        canvas.Text(left, kMargin, wide ? "DOUBLE WIDTH 20 X 24" : "SINGLE WIDTH 10 X 24");
        const std::size_t cellWidth = CellWidth(wide);
        for (std::size_t i = 0; i < kGridSide; ++i) {
            const char colLabel[2] = {HexDigit(i), '\0'};
            const std::size_t colX = left + kRowLabelBand + i * (cellWidth + kCellGap);
            canvas.Text(colX + (cellWidth - 5 * kLabelScale) / 2, kMargin + kTitleBand, colLabel);
            const char rowLabel[3] = {HexDigit(i), '0', '\0'};
            const std::size_t rowY = GridTop() + i * (kCellHeight + kCellGap);
            canvas.Text(left, rowY + (kCellHeight - kLabelHeight) / 2, rowLabel);
        }
        for (unsigned code = 0; code < kCodes; ++code) {
            const SheetPoint origin = GlyphDotOrigin(wide, code, 0, 0);
            canvas.Fill(origin.x, origin.y, cellWidth, kCellHeight, kSheetCell);
            for (unsigned y = 0; y < kRows; ++y) {
                for (unsigned x = 0; x < (wide ? 20u : 10u); ++x) {
                    const std::size_t record = wide ? 256 + 2 * code + x / 10 : code;
                    if ((RowWord(image, record, y) & (0x8000u >> (x % 10))) == 0) continue;
                    const SheetPoint p = GlyphDotOrigin(wide, code, x, y);
                    canvas.Fill(p.x, p.y, kSheetDotPixels, kSheetDotPixels, kSheetDot);
                }
            }
        }
    }
    return sheet;
}

std::vector<unsigned char> EncodeSheetPng(const GlyphSheet& sheet) {
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    std::vector<unsigned char> ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(sheet.width));
    Put32(ihdr, static_cast<std::uint32_t>(sheet.height));
    ihdr.insert(ihdr.end(),
                {2, 3, 0, 0, 0});  // 2 bits a pixel, palette, deflate, no filter, no interlace
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "PLTE", {224, 224, 224, 255, 255, 255, 0, 0, 0, 32, 64, 160});

    // Scanlines: filter byte 0, then four pixels a byte, leftmost in the high bits.
    const std::size_t lineBytes = (sheet.width + 3) / 4;
    std::vector<unsigned char> raw;
    raw.reserve(sheet.height * (lineBytes + 1));
    for (std::size_t y = 0; y < sheet.height; ++y) {
        raw.push_back(0);
        for (std::size_t b = 0; b < lineBytes; ++b) {
            unsigned v = 0;
            for (std::size_t k = 0; k < 4; ++k) {
                const std::size_t x = b * 4 + k;
                const unsigned px = x < sheet.width ? (sheet.pixels[y * sheet.width + x] & 3u) : 0u;
                v |= px << (6 - 2 * k);
            }
            raw.push_back(static_cast<unsigned char>(v));
        }
    }

    // zlib stream of stored deflate blocks: simple, exact, and small enough
    // for a sheet of a few hundred kilobytes.
    std::vector<unsigned char> z = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n & 0xFF));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n & 0xFF));
        z.push_back(static_cast<unsigned char>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    Put32(z, Adler32(raw));
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

bool WriteGlyphSheetPng(const unsigned char* image, std::size_t size, const std::string& path,
                        std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return false;
    };
    if (image == nullptr || size != kImageSize)
        return fail("code page image is " + std::to_string(image == nullptr ? 0 : size) +
                    " bytes, expected " + std::to_string(kImageSize));
    if (path.empty()) return fail("no file name given for the preview");
    const std::vector<unsigned char> png = EncodeSheetPng(RenderGlyphSheet(image, size));

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return fail("cannot create " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        const int e = written ? errno : writeErrno;
        std::remove(path.c_str());
        return fail("cannot write " + path + ": " + std::strerror(e));
    }
    return true;
}

}  // namespace vorin
