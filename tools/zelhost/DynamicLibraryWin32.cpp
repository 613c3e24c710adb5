#include "DynamicLibrary.h"

#include <windows.h>

#include "Win32Text.h"

namespace zelhost {

bool TDynamicLibrary::Open(const std::string& path) {
    Close();
    // A bare file name would make the loader search the program's folder, the system folders and
    // PATH instead of opening this file.
    const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
    // No "cannot find the module" box of the system's: the failure is reported as our error.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryA(file.c_str());
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    FHandle = static_cast<void*>(module);
    if (FHandle) return true;
    FError = file + ": " + Win32ErrorText(error);
    return false;
}

void* TDynamicLibrary::Find(const char* name) const noexcept {
    if (!FHandle) return nullptr;
    // The loader hands out code addresses as FARPROC; callers cast to the entry's real type.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

void TDynamicLibrary::Close() noexcept {
    if (FHandle) ::FreeLibrary(static_cast<HMODULE>(FHandle));
    FHandle = nullptr;
}

}  // namespace zelhost
