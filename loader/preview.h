// A picture of the code page image for people: every glyph of both sets in a
// labelled grid, written as a PNG file without any image library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorin {

// Writes a PNG sheet of all 512 glyphs of a 36,864-byte code page image: the
// 256 single-width glyphs (10 x 24 dots) and the 256 double-width glyphs
// (20 x 24 dots), each set a 16 x 16 grid with hexadecimal row and column
// labels, every dot drawn as a square of several pixels. Returns false and
// puts a one-line reason into *error (when error is not null) if the image
// has the wrong size or the file cannot be written; a partly written file is
// removed.
bool WriteGlyphSheetPng(const unsigned char* image, std::size_t size, const std::string& path,
                        std::string* error);

// The sheet as pixels, one palette index a pixel, row by row; what
// WriteGlyphSheetPng encodes. Empty when the image has the wrong size.
struct GlyphSheet {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height palette indices
};

// Palette indices of the sheet.
inline constexpr std::uint8_t kSheetBackground = 0;  // around and between cells
inline constexpr std::uint8_t kSheetCell = 1;        // an empty dot of a glyph cell
inline constexpr std::uint8_t kSheetDot = 2;         // a printed dot
inline constexpr std::uint8_t kSheetLabel = 3;       // titles and row/column labels

// Size of one dot on the sheet, in pixels.
inline constexpr std::size_t kSheetDotPixels = 3;

GlyphSheet RenderGlyphSheet(const unsigned char* image, std::size_t size);

// Top-left pixel of dot (dotX, dotY) of the glyph for `code` in the single-
// width set (doubleWidth false, dotX 0..9) or the double-width set (dotX 0..19).
struct SheetPoint {
    std::size_t x = 0;
    std::size_t y = 0;
};
SheetPoint GlyphDotOrigin(bool doubleWidth, unsigned code, unsigned dotX, unsigned dotY);

// Encodes 2-bit palette pixels (values 0..3) as a PNG file image in memory.
std::vector<unsigned char> EncodeSheetPng(const GlyphSheet& sheet);

}  // namespace vorin
