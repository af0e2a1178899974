#include "platform/local_time.h"

#include <windows.h>

namespace vorin::platform {

LocalDateTime LocalNow() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace vorin::platform
