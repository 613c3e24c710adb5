#include "VariableSelector.h"

#include <cstdlib>

namespace zelhost {

using zel::E_FAIL;
using zel::E_NOINTERFACE;
using zel::E_NOTIMPL;
using zel::S_OK;

TSelectorInstance::TSelectorInstance(TSelectorHost& host) : FHost(host) { FHost.LiveSelectors.fetch_add(1); }

TSelectorInstance::~TSelectorInstance() { FHost.LiveSelectors.fetch_sub(1); }

HRESULT ZEL_CALL TSelectorInstance::QueryInterface(const TGUID& iid, void** obj) {
    if (!obj) return E_FAIL;
    if (iid == zel::IID_IUnknown || iid == zel::IID_IZELMessageSink || iid == zel::IID_IZELModule ||
        iid == zel::IID_IZELVariableSelector) {
        AddRef();
        *obj = static_cast<zel::IZELVariableSelector*>(this);
        return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
}

int32_t ZEL_CALL TSelectorInstance::AddRef() { return FRefs.fetch_add(1) + 1; }

int32_t ZEL_CALL TSelectorInstance::Release() {
    int32_t left = FRefs.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT ZEL_CALL TSelectorInstance::MessageSink(void*) { return E_FAIL; }

HRESULT ZEL_CALL TSelectorInstance::ExchangeCallbacks(zel::TZELCallbackPair& pair) {
    pair.ModuleCallback = {nullptr, nullptr};
    return S_OK;
}

HRESULT ZEL_CALL TSelectorInstance::ShowPropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::HidePropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::LoadSettings() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::SaveSettings() { return E_NOTIMPL; }
int32_t ZEL_CALL TSelectorInstance::GetRefCount() { return FRefs.load(); }

HRESULT ZEL_CALL TSelectorInstance::SelectVariable(uint8_t kind, char** name) {
    return FHost.GuardSlot("SelectVariable", [&]() -> HRESULT {
        if (!name) return E_FAIL;
        std::vector<std::string> names = FHost.VariableNames(kind);
        std::string chosen;
        HRESULT r = FHost.ChooseVariable(kind, names, chosen);
        if (zel::Failed(r)) return r;
        if (chosen.empty()) return E_FAIL;
        *name = zel::hoststr::Alloc(chosen);
        return S_OK;
    });
}

std::optional<HRESULT> ScriptedChoice(std::string& chosen) {
    const char* scripted = std::getenv("ZELHOST_SELECT");
    if (!scripted) return std::nullopt;
    if (!*scripted) return E_FAIL;
    chosen = scripted;
    return S_OK;
}

}  // namespace zelhost
