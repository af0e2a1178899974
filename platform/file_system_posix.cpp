#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vorin::platform {

bool DirectoryExists(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const char* path) { return path != nullptr && ::unlink(path) == 0; }

}  // namespace vorin::platform
