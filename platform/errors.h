// Error numbers above the platform seam are the Windows system error codes,
// on every OS: the serial library stores them and returns them to callers,
// and the POSIX layer translates errno into them. This is the one table of
// them; every platform service reports its failures with these numbers.
#pragma once
#include <cstdint>

namespace vorin::platform {

enum : int32_t {
    kErrSuccess = 0,
    kErrFileNotFound = 2,        // ERROR_FILE_NOT_FOUND
    kErrPathNotFound = 3,        // ERROR_PATH_NOT_FOUND
    kErrTooManyOpenFiles = 4,    // ERROR_TOO_MANY_OPEN_FILES
    kErrAccessDenied = 5,        // ERROR_ACCESS_DENIED
    kErrInvalidHandle = 6,       // ERROR_INVALID_HANDLE
    kErrNotEnoughMemory = 8,     // ERROR_NOT_ENOUGH_MEMORY
    kErrGenFailure = 31,         // ERROR_GEN_FAILURE
    kErrSharingViolation = 32,   // ERROR_SHARING_VIOLATION
    kErrNotSupported = 50,       // ERROR_NOT_SUPPORTED
    kErrNetnameDeleted = 64,     // ERROR_NETNAME_DELETED: a network port's connection is gone
    kErrInvalidParameter = 87,   // ERROR_INVALID_PARAMETER
    kErrOperationAborted = 995,  // ERROR_OPERATION_ABORTED
    kErrIoPending = 997,         // ERROR_IO_PENDING
    kErrConnectRefused = 1225,   // ERROR_CONNECTION_REFUSED: a network port did not connect
    kErrTimeout = 1460,          // ERROR_TIMEOUT
};

// The calling thread's last system error, as a Windows code (GetLastError, or
// errno translated). SetLastError(0) at the start of every port operation
// makes a recorded code belong to the call that failed inside it.
int32_t LastError();
void SetLastError(int32_t code);

}  // namespace vorin::platform
