#include "TestLibrary.h"

#include <dlfcn.h>

namespace zeltest {

TTestLibrary::TTestLibrary(const char* path) : FHandle(::dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (!FHandle) FError = ::dlerror();
}

void* TTestLibrary::Symbol(const char* name) const noexcept { return FHandle ? ::dlsym(FHandle, name) : nullptr; }

void TTestLibrary::Close() noexcept {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
}

bool TTestLibrary::InProcess(const char* path) noexcept {
    // A handle from RTLD_NOLOAD is one more reference: given back at once.
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

}  // namespace zeltest
