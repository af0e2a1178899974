// The code page image that the loader writes into the printer: 768 glyph
// records of 48 bytes (24 rows, each a 16-bit word high byte first), the 256
// single-width glyphs first, then the 256 double-width glyphs as left and
// right halves. It is built into the program from loader/codepage437.bin.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorin {

inline constexpr std::size_t kImageSize = 36864;
inline constexpr std::size_t kBlockCount = 144;
inline constexpr std::size_t kBlockSize = 256;
// Image block b is stored by the printer as its block b + kFirstPrinterBlock.
inline constexpr std::uint32_t kFirstPrinterBlock = 320;

static_assert(kBlockCount * kBlockSize == kImageSize, "the blocks cover the image exactly");

extern const unsigned char kCodePageImage[kImageSize];

}  // namespace vorin
