#include "DynamicLibrary.h"

#include <windows.h>

#include "Win32Text.h"

namespace zelhost {

bool TDynamicLibrary::Open(const std::string& path) {
    Close();
    // The loader searches its folders for any name that is not a full path, a relative one
    // included, so the name is made full first.
    std::string file(MAX_PATH, '\0');
    DWORD length = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(file.size()), file.data(), nullptr);
    if (length >= file.size()) {
        file.resize(length);
        length = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(file.size()), file.data(), nullptr);
    }
    if (length == 0 || length >= file.size()) {
        FError = path + ": " + Win32ErrorText(::GetLastError());
        return false;
    }
    file.resize(length);
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

const char kLibrarySuffix[] = ".dll";

std::string ExecutableDir() {
    // In the ANSI code page, as Open hands paths to the loader.
    std::string file(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, file.data(), static_cast<DWORD>(file.size()));
        if (length == 0) return {};
        if (length < file.size()) {
            file.resize(length);
            break;
        }
        file.resize(file.size() * 2);
    }
    return file.substr(0, file.find_last_of("\\/"));
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
