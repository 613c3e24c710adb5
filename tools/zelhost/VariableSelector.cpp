#include "VariableSelector.h"

#include <algorithm>
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

namespace {

// The lower-case twin of a Windows-1252 letter: ASCII, the accented capitals C0-DE but the
// multiplication sign, and the four capitals of the 80-9F block.
unsigned char FoldCase(unsigned char c) noexcept {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 0x20);
    switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
    }
}

}  // namespace

bool NameMatchesFilter(std::string_view name, std::string_view filter) noexcept {
    const auto same = [](char a, char b) {
        return FoldCase(static_cast<unsigned char>(a)) == FoldCase(static_cast<unsigned char>(b));
    };
    return filter.empty() || std::search(name.begin(), name.end(), filter.begin(), filter.end(), same) != name.end();
}

std::string SelectorKindName(uint8_t kind) {
    if (kind == zel::VariableKindBoolean) return "boolean";
    if (kind == zel::VariableKindFloat) return "float";
    return "kind " + std::to_string(kind);
}

std::optional<HRESULT> ScriptedChoice(std::string& chosen) {
    const char* scripted = std::getenv("ZELHOST_SELECT");
    if (!scripted) return std::nullopt;
    if (!*scripted) return E_FAIL;
    chosen = scripted;
    return S_OK;
}

}  // namespace zelhost
