#pragma once
// The host's variable selector: a module of the host itself, created through instance control,
// that lets the user pick one of the host's variables of a kind.
#include <atomic>
#include <string>
#include <vector>

#include "HostServices.h"

class QString;

namespace zelhost {

class TSelectorInstance final : public zel::IZELVariableSelector {
public:
    explicit TSelectorInstance(THost& host);
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

    THost& FHost;
    std::atomic<int32_t> FRefs{0};
};

// ZELHOST_SELECT when it is set (empty: refuse), else a dialog listing `names`.
HRESULT DefaultVariableChooser(uint8_t kind, const std::vector<std::string>& names, std::string& chosen);

// Text typed or chosen in the user interface as Windows-1252; what it cannot hold becomes '?'.
std::string Utf8ToWin1252(const QString& text);

}  // namespace zelhost
