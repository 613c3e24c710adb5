#include "HostServices.h"

#include <cstring>

#include "platform/TextUtils.h"

namespace zelhost {

using zel::E_FAIL;
using zel::E_NOINTERFACE;
using zel::S_OK;
using zel::hoststr::View;

namespace {

// A module never needs more; a larger index is a broken argument, not a deep path.
constexpr int32_t MaxPathHigh = 63;
// The sensor type of a switch, whose variable is a boolean; the module reads a DeviceType's low 8 bits.
constexpr uint32_t kSwitchType = 4;

bool ToPath(const ZELStr* path, int32_t pathHigh, std::vector<std::string_view>& out) {
    if (pathHigh < -1 || pathHigh > MaxPathHigh || (pathHigh >= 0 && !path)) return false;
    for (int32_t i = 0; i <= pathHigh; ++i) out.push_back(View(path[i]));
    return true;
}

}  // namespace

HRESULT Guarded(THost& host, const char* slot, const std::function<HRESULT()>& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            host.Events.Notice(std::string("warning: ") + slot + " failed: " + e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            host.Events.Notice(std::string("warning: ") + slot + " failed");
        } catch (...) {
        }
    }
    return E_FAIL;
}

// ---- kernel ----------------------------------------------------------------------------------

HRESULT ZEL_CALL THostKernel::QueryInterface(const TGUID& iid, void** obj) {
    return Guarded(FHost, "QueryInterface", [&]() -> HRESULT {
        if (!obj) return E_FAIL;
        auto give = [&](auto* service, bool refused) -> HRESULT {
            if (refused) {
                *obj = nullptr;
                return E_NOINTERFACE;
            }
            return service->QueryInterface(iid, obj);
        };
        const TRefusals& no = FHost.Refusals;
        if (iid == zel::IID_IZELSettings) return give(&FHost.Settings, no.Settings);
        if (iid == zel::IID_IZELVariableManager) return give(&FHost.Variables, no.Variables);
        if (iid == zel::IID_IZELInstanceControl) return give(&FHost.Instances, no.Instances);
        if (iid == zel::IID_IZELEventScripter) return give(&FHost.Scripter, no.Scripter);
        if (iid == zel::IID_IZELDebugServer) return give(&FHost.Debug, no.Debug);
        return THostObject::QueryInterface(iid, obj);
    });
}

HRESULT ZEL_CALL THostKernel::LogMessage(int32_t code, ZELStr sender, ZELStr text) {
    return Guarded(FHost, "LogMessage", [&] {
        FHost.Events.Log(code, View(sender), View(text));
        return S_OK;
    });
}

HRESULT ZEL_CALL THostKernel::GetKernelState(int32_t* state) {
    if (!state) return E_FAIL;
    *state = FHost.KernelState;
    return S_OK;
}

// ---- settings --------------------------------------------------------------------------------

bool THostSettings::Read(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key, std::string& value) {
    std::vector<std::string_view> sections;
    if (instance > 65535 || !ToPath(path, pathHigh, sections)) return false;
    std::lock_guard lock(FHost.StoreLock);
    return FHost.Store.Read(static_cast<uint16_t>(instance), sections, View(key), value);
}

bool THostSettings::Write(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                          std::string_view value) {
    std::vector<std::string_view> sections;
    if (instance > 65535 || !ToPath(path, pathHigh, sections)) return false;
    std::lock_guard lock(FHost.StoreLock);
    return FHost.Store.Write(static_cast<uint16_t>(instance), sections, View(key), value);
}

HRESULT ZEL_CALL THostSettings::WriteInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                             int32_t value) {
    return Guarded(FHost, "WriteInteger", [&] {
        return Write(instance, path, pathHigh, key, std::to_string(value)) ? S_OK : E_FAIL;
    });
}

HRESULT ZEL_CALL THostSettings::WriteString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                            ZELStr value) {
    return Guarded(FHost, "WriteString",
                   [&] { return Write(instance, path, pathHigh, key, View(value)) ? S_OK : E_FAIL; });
}

HRESULT ZEL_CALL THostSettings::ReadInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                            int32_t* value) {
    return Guarded(FHost, "ReadInteger", [&] {
        std::string text;
        int32_t v = 0;
        // The runtime's integer text, but a '+' sign stays refused, as it always was here.
        if (!value || !Read(instance, path, pathHigh, key, text)) return E_FAIL;
        if (text.starts_with('+') || !zel::TryStrToInt(text, v)) return E_FAIL;
        *value = v;
        return S_OK;
    });
}

HRESULT ZEL_CALL THostSettings::ReadString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                           char** value) {
    return Guarded(FHost, "ReadString", [&] {
        std::string text;
        if (!value || !Read(instance, path, pathHigh, key, text)) return E_FAIL;
        *value = zel::hoststr::Alloc(text);
        return S_OK;
    });
}

// ---- variables -------------------------------------------------------------------------------

bool THostVariables::Store(std::string_view name, bool isFloat, float f, bool b) {
    if (name.empty()) return false;
    std::lock_guard lock(FLock);
    auto it = FVariables.find(name);
    if (it == FVariables.end()) {
        it = FVariables.emplace(std::string(name), TVariable{isFloat, 0, false}).first;
    } else if (it->second.IsFloat != isFloat) {
        FHost.Events.Notice("warning: variable " + std::string(name) + " is a " +
                            (it->second.IsFloat ? "float" : "boolean") + " variable; a " +
                            (isFloat ? "float" : "boolean") + " write was refused");
        return false;
    }
    it->second.Float = f;
    it->second.Boolean = b;
    return true;
}

HRESULT ZEL_CALL THostVariables::WriteVariableBoolean(ZELStr name, uint8_t value) {
    return Guarded(FHost, "WriteVariableBoolean", [&] {
        if (!Store(View(name), false, 0, value != 0)) return E_FAIL;
        FHost.Events.VariableBoolean(View(name), value != 0);
        return S_OK;
    });
}

HRESULT ZEL_CALL THostVariables::WriteVariableFloat(ZELStr name, float value) {
    return Guarded(FHost, "WriteVariableFloat", [&] {
        if (!Store(View(name), true, value, false)) return E_FAIL;
        FHost.Events.VariableFloat(View(name), value);
        return S_OK;
    });
}

std::vector<std::string> THostVariables::Names(uint8_t kind) const {
    std::vector<std::string> names, all;
    std::lock_guard lock(FLock);
    for (const auto& [name, v] : FVariables) {
        all.push_back(name);
        if ((kind == zel::VariableKindFloat && v.IsFloat) || (kind == zel::VariableKindBoolean && !v.IsFloat))
            names.push_back(name);
    }
    return names.empty() ? all : names;
}

void THostVariables::Declare(std::string_view name, bool isFloat) {
    if (name.empty()) return;
    std::lock_guard lock(FLock);
    if (FVariables.find(name) == FVariables.end()) FVariables.emplace(std::string(name), TVariable{isFloat, 0, false});
}

void THostVariables::DeclareBindings(const TSettingsStore& store) {
    for (uint16_t instance : store.Instances()) {
        std::map<std::string, std::string> values;
        for (const TSettingsStore::TValue& v : store.Values(instance)) values[v.Key] = v.Value;
        for (int i = 0; i < 8; ++i) {
            const std::string section = "Settings/S" + std::to_string(i) + "/";
            auto name = values.find(section + "VarName");
            if (name == values.end()) continue;
            // Not a number (by ReadInteger's rule, '+' refused): ReadInteger fails for it, and the
            // module then takes type 0, a float.
            int32_t type = 0;
            const std::string& stored = values[section + "DeviceType"];
            const bool isSwitch = !stored.starts_with('+') && zel::TryStrToInt(stored, type) &&
                                  (static_cast<uint32_t>(type) & 0xFFu) == kSwitchType;
            Declare(name->second, !isSwitch);
        }
    }
}

// ---- instance control ------------------------------------------------------------------------

void THostInstanceControl::ReserveIDs(const std::vector<uint16_t>& ids) {
    std::lock_guard lock(FLock);
    for (uint16_t id : ids) FReserved[id] = true;
}

bool THostInstanceControl::FreeID(uint16_t& id) const {
    // Above the module's own instances, so the numbers read as the host's.
    uint32_t start = 0;
    for (uint32_t i = 0; i < 65536; ++i)
        if (FReserved[i]) start = i + 1;
    for (uint32_t n = 0; n < 65536; ++n) {
        auto candidate = static_cast<uint16_t>((start + n) & 0xFFFF);
        if (!FReserved[candidate] && !FSelectors.contains(candidate)) {
            id = candidate;
            return true;
        }
    }
    return false;
}

HRESULT ZEL_CALL THostInstanceControl::CreateInstance(TGUID moduleID, zel::TZELModuleInstance* instance, int32_t) {
    return Guarded(FHost, "CreateInstance", [&]() -> HRESULT {
        if (!instance) return E_FAIL;
        if (!(moduleID == zel::IID_IZELVariableSelector)) {
            FHost.Events.Notice("warning: CreateInstance of module " + zel::GUIDToString(moduleID) +
                                ", which this host does not have");
            return E_FAIL;
        }
        std::lock_guard lock(FLock);
        uint16_t id = 0;
        if (!FreeID(id)) return E_FAIL;
        auto* selector = new TSelectorInstance(FHost);
        selector->AddRef();  // the host's, until DeleteInstance
        FSelectors.emplace(id, selector);
        selector->AddRef();  // the caller's
        std::memset(static_cast<void*>(instance), 0, sizeof *instance);
        instance->InstanceID = id;
        instance->Module = selector;
        return S_OK;
    });
}

HRESULT ZEL_CALL THostInstanceControl::DeleteInstance(uint32_t instance) {
    return Guarded(FHost, "DeleteInstance", [&] {
        TSelectorInstance* selector = nullptr;
        {
            std::lock_guard lock(FLock);
            auto it = instance <= 65535 ? FSelectors.find(static_cast<uint16_t>(instance)) : FSelectors.end();
            if (it == FSelectors.end()) return E_FAIL;
            selector = it->second;
            FSelectors.erase(it);
        }
        selector->Release();
        return S_OK;
    });
}

HRESULT ZEL_CALL THostInstanceControl::SetInstanceStatus(uint32_t instance, int32_t status) {
    return Guarded(FHost, "SetInstanceStatus", [&] {
        FHost.Events.Status(instance, status);
        return S_OK;
    });
}

int THostInstanceControl::ReleaseAll() {
    std::map<uint16_t, TSelectorInstance*> left;
    {
        std::lock_guard lock(FLock);
        left.swap(FSelectors);
    }
    for (auto& [id, selector] : left) selector->Release();
    return static_cast<int>(left.size());
}

// ---- debug server ----------------------------------------------------------------------------

HRESULT ZEL_CALL THostDebugServer::SendDebug(uint32_t instance, ZELStr text, int32_t) {
    return Guarded(FHost, "SendDebug", [&] {
        FHost.Events.Debug(instance, View(text));
        return S_OK;
    });
}

// ---- host ------------------------------------------------------------------------------------

THost::THost(TEventPrinter& events, TSettingsStore& store, TRefusals refusals, int32_t kernelState)
    : Events(events),
      Store(store),
      Refusals(refusals),
      KernelState(kernelState),
      Chooser([](uint8_t, const std::vector<std::string>&, std::string& chosen) {
          return ScriptedChoice(chosen).value_or(E_FAIL);
      }),
      Kernel(*this),
      Settings(*this),
      Variables(*this),
      Instances(*this),
      Scripter(*this),
      Debug(*this) {}

bool THost::CheckReleased() {
    bool clean = true;
    auto check = [&](const char* name, int32_t refs) {
        if (refs <= 0) return;
        clean = false;
        Events.Notice("warning: the module still holds " + std::to_string(refs) + " reference" +
                      (refs == 1 ? "" : "s") + " to the " + name);
    };
    check(Kernel.ObjectName(), Kernel.References());
    check(Settings.ObjectName(), Settings.References());
    check(Variables.ObjectName(), Variables.References());
    check(Instances.ObjectName(), Instances.References());
    check(Scripter.ObjectName(), Scripter.References());
    check(Debug.ObjectName(), Debug.References());
    if (int n = Instances.ReleaseAll(); n > 0) {
        clean = false;
        Events.Notice("warning: " + std::to_string(n) + " variable selector instance" + (n == 1 ? " was" : "s were") +
                      " never deleted");
    }
    if (int n = LiveSelectors.load(); n > 0) {
        clean = false;
        Events.Notice("warning: the module still holds " + std::to_string(n) + " variable selector" +
                      (n == 1 ? "" : "s"));
    }
    return clean;
}

}  // namespace zelhost
