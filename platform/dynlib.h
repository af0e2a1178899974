// Loading a shared library at run time and finding its functions by name
// (dlopen/dlsym, LoadLibraryA/GetProcAddress). Used by hosts that bind to the
// driver library late, and by the tests that prove its exports resolve.
#pragma once

#include <string>

namespace vorin::platform {

// nullptr on failure; *error (when given) then says why.
void* DynlibOpen(const char* path, std::string* error = nullptr);
void* DynlibSymbol(void* library, const char* name);
void DynlibClose(void* library);

// The platform's file name of a shared library: "libNAME.so" or "NAME.dll".
std::string DynlibFileName(const char* baseName);

// Folder of the running program, ending in the path separator; empty if unknown.
std::string ProgramDirectory();

}  // namespace vorin::platform
