#include "platform/dynlib.h"

#include <windows.h>

namespace vorin::platform {

void* DynlibOpen(const char* path, std::string* error) {
    HMODULE lib = LoadLibraryA(path);
    if (lib == nullptr && error != nullptr) {
        *error = "LoadLibraryA failed, error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void*>(lib);
}

void* DynlibSymbol(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void DynlibClose(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::string DynlibFileName(const char* baseName) { return std::string(baseName) + ".dll"; }

std::string ProgramDirectory() {
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string path(buf, n);
    auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vorin::platform
