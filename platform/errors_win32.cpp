#include "platform/errors.h"

#include <windows.h>

namespace vorin::platform {

int32_t LastError() { return static_cast<int32_t>(::GetLastError()); }

void SetLastError(int32_t code) { ::SetLastError(static_cast<DWORD>(code)); }

}  // namespace vorin::platform
