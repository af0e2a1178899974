// Facts about the system the program runs on that tests and diagnostics need
// but that no service interface covers.
#pragma once

namespace vorin::platform {

// True when this Windows program runs under Wine (ntdll exports
// wine_get_version there). Some device behaviour differs from real Windows
// under Wine (a second exclusive open of a COM port is not refused, a read
// with "return at once" timeouts blocks); tests use this to skip with a
// reason instead of failing. Always false on POSIX.
bool RunningUnderWine();

}  // namespace vorin::platform
