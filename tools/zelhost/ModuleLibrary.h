#pragma once
// A module file loaded into the host: the library handle and the module's information record.
#include <string>

#include "DynamicLibrary.h"
#include "host/UZELTypes.h"
#include "platform/Exceptions.h"

namespace zelhost {

// The module file cannot be loaded or is not a module.
class ELoadError : public zel::Exception {
public:
    using Exception::Exception;
};

// "0x80004005": result codes as people look them up.
std::string HexResult(zel::HRESULT r);

// The module to load when none is named: IO.ALL3000 beside the program (a build folder), else in
// ../lib/zelhost/modules from the program's folder (an installation). ELoadError naming both
// places when neither holds it.
std::string InstalledModule();

class TModuleLibrary {
public:
    // Loads the file and calls ZELModuleInfo; ELoadError when any of that fails.
    explicit TModuleLibrary(const std::string& path);
    ~TModuleLibrary() { Close(); }
    TModuleLibrary(const TModuleLibrary&) = delete;
    TModuleLibrary& operator=(const TModuleLibrary&) = delete;

    // Valid until Close.
    const zel::TZELModuleInfo& Info() const noexcept { return *FInfo; }
    // Unloads the library: nothing of the module may be alive any more.
    void Close() noexcept;
    // Leaves the library loaded for the rest of the process, for when module objects outlive it.
    void Keep() noexcept;

private:
    TDynamicLibrary FLibrary;
    const zel::TZELModuleInfo* FInfo = nullptr;
};

}  // namespace zelhost
