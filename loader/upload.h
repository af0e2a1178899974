// The upload of the code page image over the printer link: 144 blocks of 256
// bytes to printer blocks 320 to 463, each as two 130-byte requests, a block
// that the printer reports damaged (codes 1 and 2) sent again at most 3 times.
#pragma once

#include <cstdint>
#include <functional>

namespace vorin::loader {

inline constexpr unsigned kMaxRetries = 3;

// Sends the 36,864-byte image over the open port of the printer link, block 0
// first. `accepted` is called after each accepted block with its index (0 to
// 143). Returns the link's result code after the loop: 0 when every block was
// accepted.
uint8_t UploadImage(const unsigned char* image, const std::function<void(unsigned)>& accepted);

}  // namespace vorin::loader
