#include "platform/system.h"

#include <windows.h>

namespace vorin::platform {

bool RunningUnderWine() {
    // Asked once: the answer cannot change while the process runs.
    static const bool underWine = [] {
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return underWine;
}

}  // namespace vorin::platform
