// The line reader's byte source over an open file, shared by the record
// functions and the driver's exchange copies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driverfiles/linereader.h"
#include "platform/file.h"

namespace vorin::driverfiles {

// Reads a file in chunks and, when done, moves the file position back to
// just after the last byte the line reader took, so the file position is
// exactly where a byte-by-byte reader would have left it. With a `limit`,
// no byte past that many from the start position is read: a file that grows
// while it is read (another process, or the reader's own output) cannot keep
// the reading going.
class FileByteSource final : public ByteSource {
public:
    explicit FileByteSource(std::int32_t handle, std::int64_t limit = -1)
        : handle_(handle),
          left_(limit),
          chunk_(platform::FileSeekRelative(handle, 0) ? sizeof buf_ : 1) {}
    ~FileByteSource() {
        if (len_ > pos_)
            platform::FileSeekRelative(handle_, -static_cast<std::int64_t>(len_ - pos_));
    }
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    Result Next(std::uint8_t& byte) override {
        if (pos_ == len_) {
            std::size_t want = chunk_;
            if (left_ >= 0) {
                if (left_ == 0) return Result::End;
                if (left_ < static_cast<std::int64_t>(want)) want = static_cast<std::size_t>(left_);
            }
            const std::int64_t n = platform::FileRead(handle_, buf_, want);
            if (n < 0) return Result::Failure;
            if (n == 0) return Result::End;
            if (left_ >= 0) left_ -= n;
            len_ = static_cast<std::size_t>(n);
            pos_ = 0;
        }
        byte = buf_[pos_++];
        return Result::Byte;
    }

private:
    std::int32_t handle_;
    std::int64_t left_;
    std::size_t chunk_;
    std::uint8_t buf_[512];
    std::size_t len_ = 0;
    std::size_t pos_ = 0;
};

}  // namespace vorin::driverfiles
