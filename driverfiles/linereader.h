// The raw line reader, on any source of bytes, so that files and the fuzzer
// run the very same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorin::driverfiles {

class ByteSource {
public:
    enum class Result { Byte, End, Failure };
    virtual Result Next(std::uint8_t& byte) = 0;

protected:
    ~ByteSource() = default;
};

// Reads one line ended by `terminator` (1 to 255 bytes) into the 256-byte
// buffer `text`. A byte that breaks a partial match goes into the line with
// the partial match and is not tried again as the start of a terminator, so
// with CR LF the bytes CR CR LF end no line. A line longer than 255
// characters gives false and an empty text; the rest of it stays unread.
// NUL bytes cannot live in a text and are dropped. `lastTerminated` is set
// false before each byte read and true when a whole terminator was read.
// Returns true when the text is not empty.
bool ReadRawLine(ByteSource& source, std::string_view terminator, char* text, bool& lastTerminated);

// A source over bytes in memory.
class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    Result Next(std::uint8_t& byte) override {
        if (pos_ >= size_) return Result::End;
        byte = data_[pos_++];
        return Result::Byte;
    }
    std::size_t Position() const { return pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace vorin::driverfiles
