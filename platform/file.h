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

// Windows-style codes, so both builds report the same numbers.
inline constexpr std::uint32_t kFileErrorNotFound = 2;
inline constexpr std::uint32_t kFileErrorPathNotFound = 3;
inline constexpr std::uint32_t kFileErrorTooManyOpen = 4;
inline constexpr std::uint32_t kFileErrorAccessDenied = 5;
inline constexpr std::uint32_t kFileErrorInvalidHandle = 6;
inline constexpr std::uint32_t kFileErrorSharingViolation = 32;
inline constexpr std::uint32_t kFileErrorGeneral = 31;

struct FileOpenResult {
    std::int32_t handle;  // -1 on failure
    std::uint32_t error;  // 0 on success
};

FileOpenResult FileOpen(const char* path, FileOpenMode mode, bool exclusive);
bool FileClose(std::int32_t handle);

// Number of bytes moved, 0 at the end of the file (reading), -1 on failure.
std::int64_t FileRead(std::int32_t handle, void* buffer, std::size_t count);
std::int64_t FileWrite(std::int32_t handle, const void* data, std::size_t count);

// Moves the position relative to where it is; false if the handle cannot seek.
bool FileSeekRelative(std::int32_t handle, std::int64_t offset);

enum class FileEnd { No, Yes, Unknown };
// Whether the position equals the file's size; the position is not moved.
FileEnd FileAtEnd(std::int32_t handle);

// Moves the position to the file's end; false if the handle cannot seek.
bool FileSeekToEnd(std::int32_t handle);

// The file's size in bytes now; -1 when it cannot be told.
std::int64_t FileSize(std::int32_t handle);

// What names the file behind a handle, whatever path opened it: equal for
// two handles on one file (device and inode on POSIX, volume serial number
// and file index on Windows), so a link or a second path is seen through.
struct FileIdentity {
    std::uint64_t volume;
    std::uint64_t index;
    bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
};
bool FileGetIdentity(std::int32_t handle, FileIdentity& identity);

// A lock on the file between the programs (and the handles of one program)
// that take it: exclusive, or shared with other shared ones. It covers no
// byte of the file's data, so it stops no read or write of anyone who does
// not ask for it (on Windows a locked range would refuse their reads). An
// exclusive lock needs a handle open for writing, a shared one a handle open
// for reading. Waits at most `timeoutMs`; false when the lock was not had by
// then. Closing the handle releases it too.
bool FileLock(std::int32_t handle, bool exclusive, std::uint32_t timeoutMs);
bool FileUnlock(std::int32_t handle);

// Makes everything written so far durable and visible to other processes.
// True also for files that have nothing to flush (devices).
bool FileCommit(std::int32_t handle);

}  // namespace vorin::platform
