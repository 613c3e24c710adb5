#include "TestLibrary.h"

#include <windows.h>

namespace zeltest {

TTestLibrary::TTestLibrary(const char* path) {
    // No system box about a missing file: the failure is the test's to report.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    FHandle = ::LoadLibraryA(path);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (!FHandle) FError = std::string(path) + ": Windows error " + std::to_string(error);
}

void* TTestLibrary::Symbol(const char* name) const noexcept {
    // The loader hands out code addresses as FARPROC; callers cast to the export's real type.
    return FHandle ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(FHandle), name)) : nullptr;
}

void TTestLibrary::Close() noexcept {
    if (FHandle) ::FreeLibrary(static_cast<HMODULE>(FHandle));
    FHandle = nullptr;
}

bool TTestLibrary::InProcess(const char* path) noexcept { return ::GetModuleHandleA(path) != nullptr; }

}  // namespace zeltest
