#pragma once
// A shared library loaded into the process by the platform's loader. DynamicLibraryPosix.cpp is
// the loader of POSIX systems; another platform supplies its own file behind this header.
#include <string>

namespace zelhost {

class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    ~TDynamicLibrary() { Close(); }
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

    // Loads the file `path` (a bare name means the file in the current folder, never a search)
    // with every symbol resolved now and none of them lent to later libraries; false, with
    // Error() saying why, when the loader refuses it.
    bool Open(const std::string& path);
    // The address of the symbol the library exports as `name`; nullptr when there is none.
    void* Find(const char* name) const noexcept;
    // Unloads the library: nothing of it may be in use any more.
    void Close() noexcept;
    // Leaves the library loaded for the rest of the process, for when its objects outlive us.
    void Keep() noexcept { FHandle = nullptr; }
    // Why the last Open failed, in the loader's words.
    const std::string& Error() const noexcept { return FError; }

private:
    void* FHandle = nullptr;
    std::string FError;
};

// The file name ending of a library the loader takes: ".so", ".dll".
extern const char kLibrarySuffix[];
// The folder of the running program's file, without a trailing separator; empty when the system
// does not say.
std::string ExecutableDir();

}  // namespace zelhost
