// Questions about names in the file system that the driver asks without
// opening a file or changing the process's current directory (which belongs
// to the whole process, host threads included).
#pragma once

namespace vorin::platform {

// True when `path` names an existing directory. Both '/' and '\' separate
// directories on Windows; on POSIX only '/'.
bool DirectoryExists(const char* path);

// Removes the file; false when it could not be removed (missing included).
bool RemoveFile(const char* path);

}  // namespace vorin::platform
