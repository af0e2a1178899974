#include "platform/dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace vorin::platform {

void* DynlibOpen(const char* path, std::string* error) {
    void* lib = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr && error != nullptr) {
        const char* why = ::dlerror();
        *error = why != nullptr ? why : "dlopen failed";
    }
    return lib;
}

void* DynlibSymbol(void* library, const char* name) {
    return library != nullptr ? ::dlsym(library, name) : nullptr;
}

void DynlibClose(void* library) {
    if (library != nullptr) ::dlclose(library);
}

std::string DynlibFileName(const char* baseName) { return std::string("lib") + baseName + ".so"; }

std::string ProgramDirectory() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vorin::platform
