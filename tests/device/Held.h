#pragma once
// The host's side of one instance in the device tests: its reference, and the configuration face.
#include <gtest/gtest.h>

#include "device/IO.ALL3000_Interface.h"
#include "FakeHost.h"

namespace zel::test {

inline constexpr auto kName = MakeConstString("ALL3000");

inline TZELModuleInfo Record(ZELStr name, TGUID moduleID = IID_IZELALL3000) {
    TZELModuleInfo info{};
    info.ModuleID = moduleID;
    info.SecondaryID = moduleID;
    info.ModuleKind = 3;
    info.Name = name;
    return info;
}
inline const TZELModuleInfo kRecord = Record(kName.Ref());

// The host's reference to one instance, released at the end of the scope.
template <class T = TZELALL3000>
class Held {
public:
    Held(FakeHost& host, uint16_t id, const TZELModuleInfo* info = &kRecord) : FObject(new T(&host.kernel, id, info)) {
        void* p = nullptr;
        FObject->QueryInterface(IID_IZELModule, &p);
        FModule = static_cast<IZELModule*>(p);
    }
    ~Held() { Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    void Release() {
        IZELModule* m = FModule;
        FModule = nullptr;
        FObject = nullptr;
        if (m) m->Release();
    }
    T* operator->() const { return FObject; }
    T* Object() const { return FObject; }
    IZELModule* Module() const { return FModule; }

private:
    T* FObject;
    IZELModule* FModule = nullptr;
};

// The configuration interface; the caller releases it.
inline IZELALL3000* ConfigOf(IZELModule* module) {
    void* p = nullptr;
    EXPECT_EQ(module->QueryInterface(IID_IZELALL3000, &p), S_OK);
    return static_cast<IZELALL3000*>(p);
}


}  // namespace zel::test
