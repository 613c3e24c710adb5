#include "ModuleLibrary.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

namespace zelhost {

std::string HexResult(zel::HRESULT r) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(r));
    return buf;
}

TModuleLibrary::TModuleLibrary(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw ELoadError("module " + path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw ELoadError("module " + path + " is a directory");
    // A bare file name would make the loader search the library path instead of opening this file.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    ::dlerror();
    FHandle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* why = ::dlerror();
        throw ELoadError("cannot load module " + path + ": " + (why ? why : "unknown error"));
    }
    auto fail = [&](const std::string& why) {
        ::dlclose(FHandle);
        FHandle = nullptr;
        throw ELoadError("module " + path + " " + why);
    };
    void* symbol = ::dlsym(FHandle, "ZELModuleInfo");
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
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
    FInfo = nullptr;
}

void TModuleLibrary::Keep() noexcept {
    FHandle = nullptr;
    FInfo = nullptr;
}

}  // namespace zelhost
