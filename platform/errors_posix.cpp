#include "platform/errors.h"

namespace vorin::platform {

namespace {
thread_local int32_t gLastError = 0;
}

int32_t LastError() { return gLastError; }
void SetLastError(int32_t code) { gLastError = code; }

}  // namespace vorin::platform
