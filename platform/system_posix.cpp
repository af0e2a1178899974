#include "platform/system.h"

#include <signal.h>
#include <sys/types.h>

namespace vorin::platform {

bool RunningUnderWine() { return false; }

bool EndProcess(uint32_t processId) {
    return processId != 0 && ::kill(static_cast<pid_t>(processId), SIGTERM) == 0;
}

}  // namespace vorin::platform
