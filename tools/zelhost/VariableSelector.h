#pragma once
// The host's variable selector: a module of the host itself, created through instance control,
// that lets the user pick one of the host's variables of a kind.
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Core.Selector_Types.h"
#include "host/UZELTypes.h"

namespace zelhost {

using zel::HRESULT;
using zel::TGUID;

// How the variable selector gets its answer: the kind asked for, the host's variables of that
// kind; S_OK with `chosen` set, or a failure when the choice was refused.
using TVariableChooser =
    std::function<HRESULT(uint8_t kind, const std::vector<std::string>& names, std::string& chosen)>;

// The host as its variable selectors see it: the variables to offer, the way one is chosen, and
// the guard and count that every object the host hands to a module has.
class TSelectorHost {
public:
    // The names of the host's variables of a selector kind.
    virtual std::vector<std::string> VariableNames(uint8_t kind) const = 0;
    // The host's choice among `names`, as TVariableChooser; a failure when it has no way to choose.
    virtual HRESULT ChooseVariable(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) = 0;
    // Runs a selector's slot so that nothing unwinds into the module: a failure becomes E_FAIL and
    // a notice.
    virtual HRESULT GuardSlot(const char* slot, const std::function<HRESULT()>& body) noexcept = 0;

    // Selector objects alive, whoever holds them.
    std::atomic<int> LiveSelectors{0};

protected:
    ~TSelectorHost() = default;
};

class TSelectorInstance final : public zel::IZELVariableSelector {
public:
    explicit TSelectorInstance(TSelectorHost& host);
    TSelectorInstance(const TSelectorInstance&) = delete;
    TSelectorInstance& operator=(const TSelectorInstance&) = delete;

    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
    int32_t ZEL_CALL AddRef() override;
    int32_t ZEL_CALL Release() override;
    HRESULT ZEL_CALL MessageSink(void* message) override;
    HRESULT ZEL_CALL ExchangeCallbacks(zel::TZELCallbackPair& pair) override;
    HRESULT ZEL_CALL ShowPropertyPage() override;
    HRESULT ZEL_CALL HidePropertyPage() override;
    HRESULT ZEL_CALL LoadSettings() override;
    HRESULT ZEL_CALL SaveSettings() override;
    int32_t ZEL_CALL GetRefCount() override;
    // On success `name` receives a new counted string; on failure it is left alone.
    HRESULT ZEL_CALL SelectVariable(uint8_t kind, char** name) override;

private:
    ~TSelectorInstance();

    TSelectorHost& FHost;
    std::atomic<int32_t> FRefs{0};
};

// The answer that ZELHOST_SELECT scripts for every selection, when it is set: S_OK with its text in
// `chosen`, or E_FAIL when it is empty; nothing when it is not set.
std::optional<HRESULT> ScriptedChoice(std::string& chosen);

// Whether the selector dialogs list the variable `name` under the typed `filter`: `name` contains
// `filter` (both Windows-1252 bytes), letters compared without case; every name under an empty one.
bool NameMatchesFilter(std::string_view name, std::string_view filter) noexcept;

// The kind as the selector dialogs name it: "boolean", "float", or "kind N".
std::string SelectorKindName(uint8_t kind);

}  // namespace zelhost
