#include "host/UZELTypes.h"

#include <cstdio>

namespace zel {

std::string GUIDToString(const TGUID& g) {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3, g.D4[0],
                  g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return buf;
}

HRESULT ZEL_CALL TZELMessageObject::QueryInterface(const TGUID& iid, void** obj) {
    if (!obj) return E_FAIL;
    if (GetInterface(iid, obj)) return S_OK;
    *obj = nullptr;
    return E_NOINTERFACE;
}

int32_t ZEL_CALL TZELMessageObject::AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

int32_t ZEL_CALL TZELMessageObject::Release() {
    int32_t left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT ZEL_CALL TZELMessageObject::MessageSink(void*) { return E_FAIL; }

bool TZELMessageObject::GetInterface(const TGUID& iid, void** obj) {
    if (iid == IID_IUnknown || iid == IID_IZELMessageSink) {
        *obj = static_cast<IZELMessageSink*>(this);
        AddRef();
        return true;
    }
    return false;
}

HRESULT ZEL_CALL TZELModuleObject::QueryInterface(const TGUID& iid, void** obj) {
    return TZELMessageObject::QueryInterface(iid, obj);
}
int32_t ZEL_CALL TZELModuleObject::AddRef() { return TZELMessageObject::AddRef(); }
int32_t ZEL_CALL TZELModuleObject::Release() { return TZELMessageObject::Release(); }
HRESULT ZEL_CALL TZELModuleObject::MessageSink(void* message) { return TZELMessageObject::MessageSink(message); }

HRESULT ZEL_CALL TZELModuleObject::ExchangeCallbacks(TZELCallbackPair& pair) {
    pair.ModuleCallback.Code = nullptr;
    pair.ModuleCallback.Data = nullptr;
    return S_OK;
}
HRESULT ZEL_CALL TZELModuleObject::ShowPropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TZELModuleObject::HidePropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TZELModuleObject::LoadSettings() { return E_NOTIMPL; }
HRESULT ZEL_CALL TZELModuleObject::SaveSettings() { return E_NOTIMPL; }
int32_t ZEL_CALL TZELModuleObject::GetRefCount() { return RefCount(); }

bool TZELModuleObject::GetInterface(const TGUID& iid, void** obj) {
    if (iid == IID_IZELModule) {
        *obj = static_cast<IZELModule*>(this);
        AddRef();
        return true;
    }
    return TZELMessageObject::GetInterface(iid, obj);
}

}  // namespace zel
