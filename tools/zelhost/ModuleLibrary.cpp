#include "ModuleLibrary.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zelhost {

std::string HexResult(zel::HRESULT r) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(r));
    return buf;
}

std::string InstalledModule() {
    const std::string dir = ExecutableDir();
    if (dir.empty()) throw ELoadError("no --module given, and the system does not say where zelhost is");
    const std::string name = std::string("IO.ALL3000") + kLibrarySuffix;
    const std::string candidates[] = {dir + "/" + name, dir + "/../lib/zelhost/modules/" + name};
    for (const std::string& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) return candidate;
    }
    throw ELoadError("no --module given, and no module installed at " + candidates[0] + " or " + candidates[1]);
}

TModuleLibrary::TModuleLibrary(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) throw ELoadError("module " + path + ": " + error.message());
    if (std::filesystem::is_directory(status)) throw ELoadError("module " + path + " is a directory");
    if (!FLibrary.Open(path)) throw ELoadError("cannot load module " + path + ": " + FLibrary.Error());
    auto fail = [&](const std::string& why) {
        FLibrary.Close();
        throw ELoadError("module " + path + " " + why);
    };
    void* symbol = FLibrary.Find("ZELModuleInfo");
    if (!symbol) fail("does not export ZELModuleInfo");
    // Object to function pointer through the bytes: the one conversion ISO C++ leaves open.
    zel::TZELModuleInfoProc moduleInfo = nullptr;
    static_assert(sizeof moduleInfo == sizeof symbol);
    std::memcpy(&moduleInfo, &symbol, sizeof symbol);
    const zel::TZELModuleInfo* info = nullptr;
    zel::HRESULT r = zel::E_FAIL;
    try {
        r = moduleInfo(&info);
    } catch (...) {
        fail("threw an exception out of ZELModuleInfo");
    }
    if (zel::Failed(r) || !info) fail("gave no module information (ZELModuleInfo returned " + HexResult(r) + ")");
    if (!info->Register || !info->Unregister || !info->CreateInstance)
        fail("has no Register, Unregister or CreateInstance entry in its module information");
    FInfo = info;
}

void TModuleLibrary::Close() noexcept {
    FLibrary.Close();
    FInfo = nullptr;
}

void TModuleLibrary::Keep() noexcept {
    FLibrary.Keep();
    FInfo = nullptr;
}

}  // namespace zelhost
