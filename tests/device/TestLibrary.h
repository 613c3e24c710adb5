#pragma once
// The built plug-in loaded into a test as a host loads it: dlopen on POSIX (TestLibraryPosix.cpp),
// LoadLibraryA on Windows (TestLibraryWin32.cpp). Needs none of the project's headers, so the host
// written from the contract alone uses it too.
#include <string>

namespace zeltest {

class TTestLibrary {
public:
    // Loads the file `path` with every symbol resolved now; Loaded() says whether it worked and
    // Error() why not.
    explicit TTestLibrary(const char* path);
    ~TTestLibrary() { Close(); }
    TTestLibrary(const TTestLibrary&) = delete;
    TTestLibrary& operator=(const TTestLibrary&) = delete;

    bool Loaded() const noexcept { return FHandle != nullptr; }
    const std::string& Error() const noexcept { return FError; }
    // The address of the export `name` (looked up by that exact name), nullptr when there is none.
    void* Symbol(const char* name) const noexcept;
    // Lets go of this object's reference; the library is unloaded when it was the last one.
    void Close() noexcept;
    // Whether the file `path` is loaded in this process now, without loading it.
    static bool InProcess(const char* path) noexcept;

private:
    void* FHandle = nullptr;
    std::string FError;
};

}  // namespace zeltest
