#pragma once
// The services the host hands to modules: the kernel and, through it, the settings store, the
// variable manager, instance control, the event scripter and the debug server. The host owns
// these objects for its whole run; their reference counts only tell whether the module gave back
// every reference it took, which the host checks at shutdown.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Events.h"
#include "Options.h"
#include "SettingsStore.h"
#include "VariableSelector.h"
#include "host/Core.Selector_Types.h"
#include "host/UZELTypes.h"

namespace zelhost {

using zel::ZELStr;

class THost;

// Unused slots of the host interfaces.
#define ZELHOST_NOT_IMPLEMENTED(n) \
    HRESULT ZEL_CALL Reserved##n() override { return zel::E_NOTIMPL; }

// Runs an interface slot: nothing may unwind into the module, so a failure becomes E_FAIL and
// a notice.
HRESULT Guarded(THost& host, const char* slot, const std::function<HRESULT()>& body) noexcept;

// A host-owned object behind interface I: counted, never freed by its count.
template <class I>
class THostObject : public I {
public:
    THostObject(THost& host, const char* name, const TGUID& iid) : FHost(host), FName(name), FIID(iid) {}
    THostObject(const THostObject&) = delete;
    THostObject& operator=(const THostObject&) = delete;

    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
    int32_t ZEL_CALL AddRef() override { return FRefs.fetch_add(1) + 1; }
    int32_t ZEL_CALL Release() override;
    HRESULT ZEL_CALL MessageSink(void*) override { return zel::E_NOTIMPL; }

    int32_t References() const noexcept { return FRefs.load(); }
    const char* ObjectName() const noexcept { return FName; }

protected:
    ~THostObject() = default;
    THost& FHost;

private:
    const char* FName;
    TGUID FIID;
    std::atomic<int32_t> FRefs{0};
};

class THostKernel final : public THostObject<zel::IZELKernel> {
public:
    explicit THostKernel(THost& host) : THostObject(host, "kernel", zel::IID_IZELKernel) {}
    // Hands out the services by their GUIDs, except those refused on the command line.
    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
    HRESULT ZEL_CALL LogMessage(int32_t code, ZELStr sender, ZELStr text) override;
    HRESULT ZEL_CALL GetKernelState(int32_t* state) override;
    ZELHOST_NOT_IMPLEMENTED(4)
    ZELHOST_NOT_IMPLEMENTED(5)
    ZELHOST_NOT_IMPLEMENTED(6)
    ZELHOST_NOT_IMPLEMENTED(8)
    ZELHOST_NOT_IMPLEMENTED(9)
    ZELHOST_NOT_IMPLEMENTED(10)
};

class THostSettings final : public THostObject<zel::IZELSettings> {
public:
    explicit THostSettings(THost& host) : THostObject(host, "settings store", zel::IID_IZELSettings) {}
    HRESULT ZEL_CALL WriteInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                  int32_t value) override;
    HRESULT ZEL_CALL WriteString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                 ZELStr value) override;
    // Fails like a missing value when the stored text is not a whole 32-bit number.
    HRESULT ZEL_CALL ReadInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                 int32_t* value) override;
    HRESULT ZEL_CALL ReadString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                char** value) override;
    ZELHOST_NOT_IMPLEMENTED(4)
    ZELHOST_NOT_IMPLEMENTED(5)
    ZELHOST_NOT_IMPLEMENTED(6)
    ZELHOST_NOT_IMPLEMENTED(7)
    ZELHOST_NOT_IMPLEMENTED(8)
    ZELHOST_NOT_IMPLEMENTED(9)
    ZELHOST_NOT_IMPLEMENTED(11)
    ZELHOST_NOT_IMPLEMENTED(13)
    ZELHOST_NOT_IMPLEMENTED(15)
    ZELHOST_NOT_IMPLEMENTED(17)
    ZELHOST_NOT_IMPLEMENTED(18)
    ZELHOST_NOT_IMPLEMENTED(19)
    ZELHOST_NOT_IMPLEMENTED(20)
    ZELHOST_NOT_IMPLEMENTED(21)
    ZELHOST_NOT_IMPLEMENTED(22)
    ZELHOST_NOT_IMPLEMENTED(23)
    ZELHOST_NOT_IMPLEMENTED(24)
    ZELHOST_NOT_IMPLEMENTED(25)
    ZELHOST_NOT_IMPLEMENTED(26)
    ZELHOST_NOT_IMPLEMENTED(27)
    ZELHOST_NOT_IMPLEMENTED(28)
    ZELHOST_NOT_IMPLEMENTED(29)

private:
    bool Read(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key, std::string& value);
    bool Write(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key, std::string_view value);
};

// Typed variables, created by their first write; a write of the other type is refused.
class THostVariables final : public THostObject<zel::IZELVariableManager> {
public:
    explicit THostVariables(THost& host) : THostObject(host, "variable manager", zel::IID_IZELVariableManager) {}
    HRESULT ZEL_CALL WriteVariableBoolean(ZELStr name, uint8_t value) override;
    HRESULT ZEL_CALL WriteVariableFloat(ZELStr name, float value) override;
    ZELHOST_NOT_IMPLEMENTED(4)
    ZELHOST_NOT_IMPLEMENTED(5)
    ZELHOST_NOT_IMPLEMENTED(6)
    ZELHOST_NOT_IMPLEMENTED(8)
    ZELHOST_NOT_IMPLEMENTED(9)
    ZELHOST_NOT_IMPLEMENTED(10)
    ZELHOST_NOT_IMPLEMENTED(12)
    ZELHOST_NOT_IMPLEMENTED(13)
    ZELHOST_NOT_IMPLEMENTED(14)
    ZELHOST_NOT_IMPLEMENTED(15)
    ZELHOST_NOT_IMPLEMENTED(16)
    ZELHOST_NOT_IMPLEMENTED(17)
    ZELHOST_NOT_IMPLEMENTED(18)
    ZELHOST_NOT_IMPLEMENTED(19)
    ZELHOST_NOT_IMPLEMENTED(20)
    ZELHOST_NOT_IMPLEMENTED(21)
    ZELHOST_NOT_IMPLEMENTED(22)
    ZELHOST_NOT_IMPLEMENTED(23)

    // The names of the variables of a selector kind (1 boolean, 4 float), sorted; every variable
    // when there is none of that kind.
    std::vector<std::string> Names(uint8_t kind) const;
    // Makes a variable known before anything writes it (a binding in the settings store).
    void Declare(std::string_view name, bool isFloat);
    // Declares the variables that the store's instances bind their inputs to ("Settings/S<i>/VarName"
    // with "Settings/S<i>/DeviceType", whose low 8 bits are the sensor type as the module reads it:
    // 4 is a switch, a boolean variable; anything else a float).
    void DeclareBindings(const TSettingsStore& store);

private:
    struct TVariable {
        bool IsFloat = false;
        float Float = 0;
        bool Boolean = false;
    };
    bool Store(std::string_view name, bool isFloat, float f, bool b);

    mutable std::mutex FLock;
    std::map<std::string, TVariable, std::less<>> FVariables;
};

class THostInstanceControl final : public THostObject<zel::IZELInstanceControl> {
public:
    explicit THostInstanceControl(THost& host) : THostObject(host, "instance control", zel::IID_IZELInstanceControl) {}
    // Creates an instance of the host's variable selector; other modules are not available here.
    HRESULT ZEL_CALL CreateInstance(TGUID moduleID, zel::TZELModuleInstance* instance, int32_t reserved) override;
    HRESULT ZEL_CALL DeleteInstance(uint32_t instance) override;
    HRESULT ZEL_CALL SetInstanceStatus(uint32_t instance, int32_t status) override;
    ZELHOST_NOT_IMPLEMENTED(6)
    ZELHOST_NOT_IMPLEMENTED(7)
    ZELHOST_NOT_IMPLEMENTED(8)
    ZELHOST_NOT_IMPLEMENTED(9)
    ZELHOST_NOT_IMPLEMENTED(10)
    ZELHOST_NOT_IMPLEMENTED(11)
    ZELHOST_NOT_IMPLEMENTED(12)
    ZELHOST_NOT_IMPLEMENTED(13)
    ZELHOST_NOT_IMPLEMENTED(15)
    ZELHOST_NOT_IMPLEMENTED(16)
    ZELHOST_NOT_IMPLEMENTED(17)

    // Identifiers of the module's own instances, which selector instances must not take.
    void ReserveIDs(const std::vector<uint16_t>& ids);
    // Drops the host's reference to every selector instance not deleted yet; returns how many.
    int ReleaseAll();

private:
    bool FreeID(uint16_t& id) const;

    std::mutex FLock;
    std::vector<bool> FReserved = std::vector<bool>(65536);
    std::map<uint16_t, TSelectorInstance*> FSelectors;
};

// Held by modules, never called by them: every slot is unused.
class THostEventScripter final : public THostObject<zel::IZELEventScripter> {
public:
    explicit THostEventScripter(THost& host) : THostObject(host, "event scripter", zel::IID_IZELEventScripter) {}
    ZELHOST_NOT_IMPLEMENTED(4)
    ZELHOST_NOT_IMPLEMENTED(5)
    ZELHOST_NOT_IMPLEMENTED(6)
    ZELHOST_NOT_IMPLEMENTED(7)
    ZELHOST_NOT_IMPLEMENTED(8)
    ZELHOST_NOT_IMPLEMENTED(9)
    ZELHOST_NOT_IMPLEMENTED(10)
    ZELHOST_NOT_IMPLEMENTED(11)
    ZELHOST_NOT_IMPLEMENTED(12)
    ZELHOST_NOT_IMPLEMENTED(13)
    ZELHOST_NOT_IMPLEMENTED(14)
    ZELHOST_NOT_IMPLEMENTED(15)
    ZELHOST_NOT_IMPLEMENTED(16)
    ZELHOST_NOT_IMPLEMENTED(17)
    ZELHOST_NOT_IMPLEMENTED(18)
    ZELHOST_NOT_IMPLEMENTED(19)
    ZELHOST_NOT_IMPLEMENTED(20)
};

class THostDebugServer final : public THostObject<zel::IZELDebugServer> {
public:
    explicit THostDebugServer(THost& host) : THostObject(host, "debug server", zel::IID_IZELDebugServer) {}
    HRESULT ZEL_CALL SendDebug(uint32_t instance, ZELStr text, int32_t reserved) override;
    ZELHOST_NOT_IMPLEMENTED(4)
};

#undef ZELHOST_NOT_IMPLEMENTED

class THost final : public TSelectorHost {
public:
    // `store` guarded by StoreLock; events and store outlive the host.
    THost(TEventPrinter& events, TSettingsStore& store, TRefusals refusals, int32_t kernelState);
    THost(const THost&) = delete;
    THost& operator=(const THost&) = delete;

    // Drops what the host still holds for the module and reports, as notices, every reference the
    // module kept. True when the module gave everything back.
    bool CheckReleased();

    TEventPrinter& Events;
    TSettingsStore& Store;
    std::mutex StoreLock;
    const TRefusals Refusals;
    const int32_t KernelState;
    // The variable selector's answers: only ZELHOST_SELECT's until a run hands in its toolkit's.
    TVariableChooser Chooser;

    THostKernel Kernel;
    THostSettings Settings;
    THostVariables Variables;
    THostInstanceControl Instances;
    THostEventScripter Scripter;
    THostDebugServer Debug;

    // The host as its variable selectors see it.
    std::vector<std::string> VariableNames(uint8_t kind) const override { return Variables.Names(kind); }
    HRESULT ChooseVariable(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) override {
        return Chooser ? Chooser(kind, names, chosen) : zel::E_FAIL;
    }
    HRESULT GuardSlot(const char* slot, const std::function<HRESULT()>& body) noexcept override {
        return Guarded(*this, slot, body);
    }
};

// ---- template members ------------------------------------------------------------------------

template <class I>
HRESULT ZEL_CALL THostObject<I>::QueryInterface(const TGUID& iid, void** obj) {
    if (!obj) return zel::E_FAIL;
    if (iid == zel::IID_IUnknown || iid == zel::IID_IZELMessageSink || iid == FIID) {
        AddRef();
        *obj = static_cast<I*>(this);
        return zel::S_OK;
    }
    *obj = nullptr;
    return zel::E_NOINTERFACE;
}

template <class I>
int32_t ZEL_CALL THostObject<I>::Release() {
    int32_t left = FRefs.fetch_sub(1) - 1;
    if (left < 0) {
        // More releases than references: the count stays at zero and the fault is reported.
        FRefs.fetch_add(1);
        try {
            FHost.Events.Notice(std::string("warning: the ") + FName + " was released more often than referenced");
        } catch (...) {
        }
        return 0;
    }
    return left;
}

}  // namespace zelhost
