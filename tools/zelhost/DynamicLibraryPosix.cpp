#include "DynamicLibrary.h"

#include <dlfcn.h>

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

void* TDynamicLibrary::Find(const char* name) const noexcept { return FHandle ? ::dlsym(FHandle, name) : nullptr; }

void TDynamicLibrary::Close() noexcept {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
}

}  // namespace zelhost
