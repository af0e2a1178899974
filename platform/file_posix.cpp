#include "platform/file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace vorin::platform {
namespace {

std::uint32_t MapErrno(int e) {
    switch (e) {
    case ENOENT: return kFileErrorNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kFileErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kFileErrorTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kFileErrorAccessDenied;
    case EBADF: return kFileErrorInvalidHandle;
    case EWOULDBLOCK: return kFileErrorSharingViolation;
    default: return kFileErrorGeneral;
    }
}

int CloseKeepingErrno(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

}  // namespace

FileOpenResult FileOpen(const char* path, FileOpenMode mode, bool exclusive) {
    if (path == nullptr || *path == '\0') return {-1, kFileErrorNotFound};
    // O_NONBLOCK only so that a FIFO cannot block the open; cleared below.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (mode) {
    case FileOpenMode::Read: flags |= O_RDONLY; break;
    // No O_TRUNC: truncating before the lock is ours would destroy the data
    // of whoever holds the file.
    case FileOpenMode::Write: flags |= O_WRONLY | O_CREAT; break;
    case FileOpenMode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    case FileOpenMode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
    default: return {-1, kFileErrorAccessDenied};
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {-1, MapErrno(errno)};

    struct stat st {};
    if (::fstat(fd, &st) != 0) return {CloseKeepingErrno(fd), MapErrno(errno)};
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        return {-1, kFileErrorAccessDenied};
    }
    int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        return {CloseKeepingErrno(fd), MapErrno(errno)};
    }
    int rc;
    do {
        rc = ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int e = errno;
        ::close(fd);
        return {-1, e == EWOULDBLOCK ? kFileErrorSharingViolation : MapErrno(e)};
    }
    if (mode == FileOpenMode::Write && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        return {CloseKeepingErrno(fd), MapErrno(errno)};
    }
    return {fd, 0};
}

bool FileClose(std::int32_t handle) {
    if (handle < 0) return false;
    // Linux releases the descriptor even when close() reports EINTR; retrying
    // could close a descriptor another thread has just been given.
    int rc = ::close(handle);
    return rc == 0 || errno == EINTR;
}

std::int64_t FileRead(std::int32_t handle, void* buffer, std::size_t count) {
    if (handle < 0) return -1;
    if (count > INT_MAX) count = INT_MAX;
    ssize_t n;
    do {
        n = ::read(handle, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::int64_t FileWrite(std::int32_t handle, const void* data, std::size_t count) {
    if (handle < 0) return -1;
    if (count > INT_MAX) count = INT_MAX;
    ssize_t n;
    do {
        n = ::write(handle, data, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool FileSeekRelative(std::int32_t handle, std::int64_t offset) {
    if (handle < 0) return false;
    return ::lseek(handle, static_cast<off_t>(offset), SEEK_CUR) != static_cast<off_t>(-1);
}

FileEnd FileAtEnd(std::int32_t handle) {
    if (handle < 0) return FileEnd::Unknown;
    off_t pos = ::lseek(handle, 0, SEEK_CUR);
    struct stat st {};
    if (pos == static_cast<off_t>(-1) || ::fstat(handle, &st) != 0) return FileEnd::Unknown;
    return pos == st.st_size ? FileEnd::Yes : FileEnd::No;
}

bool FileSeekToEnd(std::int32_t handle) {
    return handle >= 0 && ::lseek(handle, 0, SEEK_END) != static_cast<off_t>(-1);
}

std::int64_t FileSize(std::int32_t handle) {
    struct stat st {};
    if (handle < 0 || ::fstat(handle, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileGetIdentity(std::int32_t handle, FileIdentity& identity) {
    struct stat st {};
    if (handle < 0 || ::fstat(handle, &st) != 0) return false;
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

namespace {

// Far past any data the driver's files hold, so that the lock (a byte range,
// to match Windows) never meets a byte anyone reads or writes.
constexpr off_t kLockByte = static_cast<off_t>(1) << 62;

// Open-file-description locks: owned by the handle, not the process, so two
// handles of one program exclude each other as on Windows, and closing some
// other handle of the same file does not drop the lock (it would with
// classic record locks). The flock() of FileOpen is apart from these.
bool SetLock(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockByte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

}  // namespace

bool FileLock(std::int32_t handle, bool exclusive, std::uint32_t timeoutMs) {
    if (handle < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (SetLock(handle, exclusive ? F_WRLCK : F_RDLCK)) return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Holders keep it for one short step: polling costs little.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool FileUnlock(std::int32_t handle) { return handle >= 0 && SetLock(handle, F_UNLCK); }

bool FileCommit(std::int32_t handle) {
    if (handle < 0) return false;
    if (::fsync(handle) == 0) return true;
    // Devices and pipes have nothing to make durable.
    return errno == EINVAL || errno == EROFS;
}

}  // namespace vorin::platform
