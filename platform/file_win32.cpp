#include "platform/file.h"

#include <windows.h>

#include <climits>
#include <mutex>
#include <vector>

// Integer handles are slots in a table of Win32 HANDLEs rather than CRT
// descriptors: the CRT calls its invalid-parameter handler (which ends the
// process) on a stale descriptor, and the driver's callers may well pass one.
namespace vorin::platform {
namespace {

constexpr std::int32_t kFirstHandle = 3;  // keep clear of 0..2, which read like stdio

std::mutex g_tableLock;
std::vector<HANDLE> g_table;  // index = handle - kFirstHandle; INVALID_HANDLE_VALUE = free

HANDLE Lookup(std::int32_t handle) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (handle < kFirstHandle) return INVALID_HANDLE_VALUE;
    std::size_t i = static_cast<std::size_t>(handle - kFirstHandle);
    return i < g_table.size() ? g_table[i] : INVALID_HANDLE_VALUE;
}

std::int32_t Insert(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    for (std::size_t i = 0; i < g_table.size(); ++i) {
        if (g_table[i] == INVALID_HANDLE_VALUE) {
            g_table[i] = h;
            return static_cast<std::int32_t>(i) + kFirstHandle;
        }
    }
    if (g_table.size() >= 1u << 20) return -1;
    g_table.push_back(h);
    return static_cast<std::int32_t>(g_table.size() - 1) + kFirstHandle;
}

HANDLE Remove(std::int32_t handle) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (handle < kFirstHandle) return INVALID_HANDLE_VALUE;
    std::size_t i = static_cast<std::size_t>(handle - kFirstHandle);
    if (i >= g_table.size()) return INVALID_HANDLE_VALUE;
    HANDLE h = g_table[i];
    g_table[i] = INVALID_HANDLE_VALUE;
    return h;
}

}  // namespace

FileOpenResult FileOpen(const char* path, FileOpenMode mode, bool exclusive) {
    if (path == nullptr || *path == '\0') return {-1, kFileErrorNotFound};
    DWORD access = 0;
    DWORD disposition = 0;
    switch (mode) {
    case FileOpenMode::Read:
        access = GENERIC_READ;
        disposition = OPEN_EXISTING;
        break;
    case FileOpenMode::Write:
        // Truncated below, only once the open has passed the sharing check
        // (the same order as on POSIX).
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    case FileOpenMode::Append:
        // Append rights without FILE_WRITE_DATA: the system puts every write at
        // the end of the file, also when another process has just extended it.
        access = FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES |
                 STANDARD_RIGHTS_WRITE | SYNCHRONIZE;
        disposition = OPEN_ALWAYS;
        break;
    case FileOpenMode::ReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    default: return {-1, kFileErrorAccessDenied};
    }
    DWORD share = exclusive ? 0 : (FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE h =
        CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return {-1, e != 0 ? static_cast<std::uint32_t>(e) : kFileErrorGeneral};
    }
    DWORD type = GetFileType(h);
    if (type == FILE_TYPE_PIPE) {  // a pipe could block a read for ever
        CloseHandle(h);
        return {-1, kFileErrorAccessDenied};
    }
    if (mode == FileOpenMode::Write && type == FILE_TYPE_DISK && !SetEndOfFile(h)) {
        DWORD e = GetLastError();
        CloseHandle(h);
        return {-1, e != 0 ? static_cast<std::uint32_t>(e) : kFileErrorGeneral};
    }
    std::int32_t handle = Insert(h);
    if (handle < 0) {
        CloseHandle(h);
        return {-1, kFileErrorTooManyOpen};
    }
    return {handle, 0};
}

bool FileClose(std::int32_t handle) {
    HANDLE h = Remove(handle);
    if (h == INVALID_HANDLE_VALUE) return false;
    return CloseHandle(h) != 0;
}

std::int64_t FileRead(std::int32_t handle, void* buffer, std::size_t count) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return -1;
    DWORD want = count > INT_MAX ? INT_MAX : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(h, buffer, want, &got, nullptr)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
}

std::int64_t FileWrite(std::int32_t handle, const void* data, std::size_t count) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return -1;
    DWORD want = count > INT_MAX ? INT_MAX : static_cast<DWORD>(count);
    DWORD done = 0;
    if (!WriteFile(h, data, want, &done, nullptr)) return -1;
    return done;
}

bool FileSeekRelative(std::int32_t handle, std::int64_t offset) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(h, distance, nullptr, FILE_CURRENT) != 0;
}

FileEnd FileAtEnd(std::int32_t handle) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return FileEnd::Unknown;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    LARGE_INTEGER pos;
    LARGE_INTEGER size;
    if (!SetFilePointerEx(h, zero, &pos, FILE_CURRENT) || !GetFileSizeEx(h, &size)) {
        return FileEnd::Unknown;
    }
    return pos.QuadPart == size.QuadPart ? FileEnd::Yes : FileEnd::No;
}

bool FileSeekToEnd(std::int32_t handle) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return SetFilePointerEx(h, zero, nullptr, FILE_END) != 0;
}

std::int64_t FileSize(std::int32_t handle) {
    HANDLE h = Lookup(handle);
    LARGE_INTEGER size;
    if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &size)) return -1;
    return size.QuadPart;
}

bool FileGetIdentity(std::int32_t handle, FileIdentity& identity) {
    HANDLE h = Lookup(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

namespace {

// Far past any data the driver's files hold: a locked range refuses the
// reads and writes of every other handle, and no one touches this one.
constexpr DWORD kLockOffsetHigh = 0x40000000;

bool TryLock(HANDLE h, bool exclusive) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(h, flags, 0, 1, 0, &at) != 0;
}

}  // namespace

bool FileLock(std::int32_t handle, bool exclusive, std::uint32_t timeoutMs) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return false;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (TryLock(h, exclusive)) return true;
        if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
        if (GetTickCount64() >= deadline) return false;
        // Holders keep it for one short step: polling costs little.
        Sleep(2);
    }
}

bool FileUnlock(std::int32_t handle) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return UnlockFileEx(h, 0, 1, 0, &at) != 0;
}

bool FileCommit(std::int32_t handle) {
    HANDLE h = Lookup(handle);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (FlushFileBuffers(h)) return true;
    DWORD e = GetLastError();
    // Read-only handles and devices have nothing to flush.
    return e == ERROR_ACCESS_DENIED || e == ERROR_INVALID_FUNCTION || e == ERROR_INVALID_HANDLE;
}

}  // namespace vorin::platform
