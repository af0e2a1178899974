#include "platform/system.h"

namespace vorin::platform {

bool RunningUnderWine() { return false; }

}  // namespace vorin::platform
