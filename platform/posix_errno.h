// errno -> Windows system error code, for the POSIX implementations only.
#pragma once
#include <cerrno>
#include <cstdint>

#include "platform/errors.h"

namespace vorin::platform {

inline int32_t FromErrno(int e) {
    switch (e) {
    case 0: return kErrSuccess;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR: return kErrFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
    case EROFS: return kErrAccessDenied;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return kErrNotSupported;
    case EINVAL: return kErrInvalidParameter;
    case ETIMEDOUT: return kErrTimeout;
    case ECANCELED: return kErrOperationAborted;
    default: return kErrGenFailure;  // EIO and the rest: the device failed
    }
}

// Records errno's translation as the thread's last error and returns it.
inline int32_t FailWithErrno(int e = errno) {
    int32_t code = FromErrno(e);
    SetLastError(code);
    return code;
}

}  // namespace vorin::platform
