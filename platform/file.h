// Integer file handles for the driver's text files.
//
// A handle is a small non-negative integer; -1 means "not open". Files are
// always opened in binary form. The exclusive flag denies every other open of
// the same file, also from other processes: Windows share mode 0 there, an
// advisory flock() on POSIX (exclusive opens take LOCK_EX, shared opens
// LOCK_SH, so two programs using this layer see the same refusals as on
// Windows; a program that ignores the locks is not stopped on POSIX).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorin::platform {

enum class FileOpenMode : std::uint8_t {
    Read = 0,       // must exist, read only, starts at the beginning
    Write = 1,      // created or truncated
    Append = 2,     // created or kept; every write lands at the current end
    ReadWrite = 3,  // created or kept, not truncated
};

// The handle, or -1 with the reason in LastError() (platform/errors.h; a file
// another open holds exclusively is kErrSharingViolation on both systems).
std::int32_t FileOpen(const char* path, FileOpenMode mode, bool exclusive);
bool FileClose(std::int32_t handle);

// Number of bytes moved, 0 at the end of the file (reading), -1 on failure.
std::int64_t FileRead(std::int32_t handle, void* buffer, std::size_t count);
std::int64_t FileWrite(std::int32_t handle, const void* data, std::size_t count);

// Moves the position relative to where it is; false if the handle cannot seek.
bool FileSeekRelative(std::int32_t handle, std::int64_t offset);

enum class FileEnd { No, Yes, Unknown };
// Whether the position equals the file's size; the position is not moved.
FileEnd FileAtEnd(std::int32_t handle);

// Makes everything written so far durable and visible to other processes.
// True also for files that have nothing to flush (devices).
bool FileCommit(std::int32_t handle);

}  // namespace vorin::platform
