#include "platform/file_system.h"

#include <windows.h>

namespace vorin::platform {

bool DirectoryExists(const char* path) {
    if (path == nullptr) return false;
    DWORD a = ::GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const char* path) { return path != nullptr && ::DeleteFileA(path) != 0; }

}  // namespace vorin::platform
