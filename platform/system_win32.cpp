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

bool EndProcess(uint32_t processId) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr) return false;
    const bool ended = ::TerminateProcess(process, 1) != 0;
    ::CloseHandle(process);
    return ended;
}

}  // namespace vorin::platform
