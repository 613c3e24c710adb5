#include "DynamicLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace zelhost {

bool TDynamicLibrary::Open(const std::string& path) {
    Close();
    // A bare file name would make the loader search the library path instead of opening this file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    ::dlerror();
    FHandle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle) return true;
    const char* why = ::dlerror();
    FError = why ? why : "unknown error";
    return false;
}

const char kLibrarySuffix[] = ".so";

std::string ExecutableDir() {
    // Linux's name for the program's own file, with links resolved.
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return {};
    const std::string file(path, static_cast<size_t>(length));
    return file.substr(0, file.rfind('/'));
}

void* TDynamicLibrary::Find(const char* name) const noexcept { return FHandle ? ::dlsym(FHandle, name) : nullptr; }

void TDynamicLibrary::Close() noexcept {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
}

}  // namespace zelhost
