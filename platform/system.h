// Facts about the system the program runs on that tests and diagnostics need
// but that no service interface covers.
#pragma once

#include <cstdint>

namespace vorin::platform {

// True when this Windows program runs under Wine (ntdll exports
// wine_get_version there). Some device behaviour differs from real Windows
// under Wine (a second exclusive open of a COM port is not refused, a read
// with "return at once" timeouts blocks); tests use this to skip with a
// reason instead of failing. Always false on POSIX.
bool RunningUnderWine();

// Asks a process to end (SIGTERM; TerminateProcess on Windows). For tests
// that started a helper in the background through the shell and know only
// its process id. False when there is no such process or it may not be ended.
bool EndProcess(uint32_t processId);

}  // namespace vorin::platform
