#include "platform/errors.h"

namespace vorin::platform {

namespace {
thread_local int32_t t_lastError = 0;
}

int32_t LastError() { return t_lastError; }
void SetLastError(int32_t code) { t_lastError = code; }

}  // namespace vorin::platform
