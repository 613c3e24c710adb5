#include "device/IO.ALL3000_Interface.h"

#include <string_view>

namespace zel {

namespace {

constexpr int kTimerIntervalMs = 1000;
constexpr std::string_view kDefaultIPAddress = "192.168.20.1";
constexpr int32_t kDefaultInterval = 60;

constexpr std::string_view kSectionSettings = "Settings";
constexpr std::string_view kKeyIPAddress = "IPAddress";
constexpr std::string_view kKeyInterval = "Interval";
constexpr std::string_view kKeyVarName = "VarName";
constexpr std::string_view kKeyDeviceType = "DeviceType";

TSettingsPath SensorPath(int index) {
    const std::string section = "S" + std::to_string(index);
    return TSettingsPath{kSectionSettings, section};
}

// Holds a reference to the instance for the length of a scope.
class TKeepAlive {
public:
    explicit TKeepAlive(TZELALL3000& instance) noexcept : FInstance(instance) { FInstance.AddRef(); }
    ~TKeepAlive() { FInstance.Release(); }
    TKeepAlive(const TKeepAlive&) = delete;
    TKeepAlive& operator=(const TKeepAlive&) = delete;

private:
    TZELALL3000& FInstance;
};

}  // namespace

TZELALL3000::TZELALL3000(IZELKernel* kernel, uint16_t instanceID, const TZELModuleInfo* moduleInfo)
    : FModuleInfo(moduleInfo), FInstanceID(instanceID), FConfigIntf(*this) {
    FKernel.Assign(kernel);

    // A refused service stays empty; everything that needs it is skipped later.
    auto request = [this](auto& field, const TGUID& iid, std::string_view refusal) {
        if (!field.Query(FKernel.Get(), iid)) Log(LogCodeServiceRefused, refusal);
    };
    request(FSettings, IID_IZELSettings, ">Couldn't obtain Settings Object");
    request(FVariableManager, IID_IZELVariableManager, ">Couldn't obtain VariableManager Object");
    request(FEventScripter, IID_IZELEventScripter, ">Couldn't obtain EventScripter Object");
    request(FInstanceControl, IID_IZELInstanceControl, ">Couldn't obtain InstanceControl Object");
    request(FDebugServer, IID_IZELDebugServer, ">Couldn't obtain DebugServer Object");

    FLastUpdate = Now();
    FTimer = std::make_unique<WindowTimer>(kTimerIntervalMs, [this] { OnTimerTick(); }, true);
    LoadSettings();
    Log(LogCodeInfo, "Interface Create");
}

TZELALL3000::~TZELALL3000() {
    // Nothing here may throw: every step runs even when an earlier one failed.
    FDestroying = true;
    Log(LogCodeInfo, "Interface Destroy");
    try {
        if (FTimer) {
            FTimer->SetHandler({});
            FTimer->SetEnabled(false);
            FTimer.reset();
        }
    } catch (...) {
    }
    HidePropertyPage();
    SaveSettings();
    FVariableManager.Reset();
    FInstanceControl.Reset();
    FSettings.Reset();
    FEventScripter.Reset();
    FDebugServer.Reset();
    FKernel.Reset();
    FModuleInfo = nullptr;
}

std::string TZELALL3000::Sender() const { return InstanceSender(FModuleInfo, FInstanceID); }

void TZELALL3000::Log(int32_t code, std::string_view text) const noexcept {
    try {
        KernelLog(FKernel.Get(), code, Sender(), text);
    } catch (...) {
    }
}

bool TZELALL3000::GetInterface(const TGUID& iid, void** obj) {
    if (iid == IID_IZELALL3000) {
        *obj = static_cast<IZELALL3000*>(&FConfigIntf);
        AddRef();
        return true;
    }
    return TZELModuleObject::GetInterface(iid, obj);
}

// ---- IZELModule --------------------------------------------------------------------------------

HRESULT ZEL_CALL TZELALL3000::DataReceiver(void*, int32_t, int32_t, int32_t, int32_t, int32_t) { return E_NOTIMPL; }

HRESULT ZEL_CALL TZELALL3000::ExchangeCallbacks(TZELCallbackPair& pair) {
    return Guarded([&] {
        pair.ModuleCallback.Code = reinterpret_cast<void*>(&DataReceiver);
        pair.ModuleCallback.Data = static_cast<void*>(this);
        FCallbacks = pair;
        return S_OK;
    });
}

// The configuration page comes with its own code; until then there is no page to show.
HRESULT ZEL_CALL TZELALL3000::ShowPropertyPage() { return E_NOTIMPL; }

// No page can exist yet, so there is nothing to hide.
HRESULT ZEL_CALL TZELALL3000::HidePropertyPage() { return S_OK; }

HRESULT ZEL_CALL TZELALL3000::LoadSettings() {
    return Guarded([&] {
        IZELSettings* settings = FSettings.Get();
        const TSettingsPath main{kSectionSettings};
        if (!ReadSettingString(settings, FInstanceID, main, kKeyIPAddress, FConfig.IPAddress))
            FConfig.IPAddress = ZELString(kDefaultIPAddress);
        if (!ReadSettingInteger(settings, FInstanceID, main, kKeyInterval, FConfig.Interval))
            FConfig.Interval = kDefaultInterval;
        for (int i = 0; i < kALL3000Inputs; ++i) {
            TZELALL3000Device& device = FConfig.Devices[i];
            const TSettingsPath path = SensorPath(i);
            if (!ReadSettingString(settings, FInstanceID, path, kKeyVarName, device.VarName)) device.VarName = ZELString();
            int32_t type = 0;
            // Only the low 8 bits are a sensor type; a stored 260 is a switch.
            device.DeviceType = ReadSettingInteger(settings, FInstanceID, path, kKeyDeviceType, type)
                                    ? static_cast<uint8_t>(static_cast<uint32_t>(type) & 0xFFu)
                                    : stNone;
        }
        const TZELALL3000Settings applied = FConfig;
        SetConfiguration(applied);
        return S_OK;
    });
}

HRESULT ZEL_CALL TZELALL3000::SaveSettings() {
    return Guarded([&] {
        IZELSettings* settings = FSettings.Get();
        if (!settings) return S_OK;
        const TSettingsPath main{kSectionSettings};
        WriteSettingString(settings, FInstanceID, main, kKeyIPAddress, FConfig.IPAddress);
        WriteSettingInteger(settings, FInstanceID, main, kKeyInterval, FConfig.Interval);
        for (int i = 0; i < kALL3000Inputs; ++i) {
            const TZELALL3000Device& device = FConfig.Devices[i];
            const TSettingsPath path = SensorPath(i);
            WriteSettingString(settings, FInstanceID, path, kKeyVarName, device.VarName);
            WriteSettingInteger(settings, FInstanceID, path, kKeyDeviceType, device.DeviceType);
        }
        return S_OK;
    });
}

// ---- IZELALL3000 -------------------------------------------------------------------------------

HRESULT TZELALL3000::GetConfiguration(TZELALL3000Settings& config) {
    config = FConfig;
    return S_OK;
}

HRESULT TZELALL3000::SetConfiguration(const TZELALL3000Settings& config) {
    FConfig = config;
    // The connection test arrives with the update code; until then this cannot report success.
    return E_NOTIMPL;
}

HRESULT TZELALL3000::DetectSensors() { return E_NOTIMPL; }

HRESULT TZELALL3000::UpdateNow() { return E_NOTIMPL; }

// ---- timer -------------------------------------------------------------------------------------

bool TZELALL3000::IsUpdateDue(TDateTime now) const noexcept {
    const int64_t elapsed = SecondsBetween(FLastUpdate, now);
    // A comparison rather than Interval - elapsed: with a negative Interval and a huge elapsed time
    // the difference would leave the 64-bit range.
    return elapsed >= static_cast<int64_t>(FConfig.Interval);
}

bool TZELALL3000::TimerEnabled() const { return FTimer && FTimer->Enabled(); }

void TZELALL3000::OnTimerTick() {
    if (FDestroying || !FTimer) return;
    try {
        if (!IsUpdateDue(Now())) return;
        // The update processes messages while it waits, and the host may release its last
        // reference meanwhile; this one keeps the instance alive until the handler is done.
        // Declared first, it is dropped last: nothing below touches the instance after it.
        TKeepAlive keep(*this);
        FTimer->SetEnabled(false);
        try {
            UpdateNow();
        } catch (...) {
            // An update reports its own failures; the timer must run again regardless.
        }
        if (FTimer) FTimer->SetEnabled(true);
    } catch (...) {
    }
}

// ---- the configuration interface ---------------------------------------------------------------

HRESULT ZEL_CALL TZELALL3000::TConfigIntf::QueryInterface(const TGUID& iid, void** obj) {
    return Guarded([&] {
        if (!obj) return E_FAIL;
        *obj = nullptr;
        const TZELModuleInfo* info = FOwner.FModuleInfo;
        if (!(iid == IID_IZELModule || (info && iid == info->ModuleID))) return E_NOINTERFACE;
        return FOwner.GetInterface(iid, obj) ? S_OK : E_FAIL;
    });
}

int32_t ZEL_CALL TZELALL3000::TConfigIntf::AddRef() { return FOwner.AddRef(); }
int32_t ZEL_CALL TZELALL3000::TConfigIntf::Release() { return FOwner.Release(); }
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::MessageSink(void* message) {
    return Guarded([&] { return FOwner.MessageSink(message); });
}
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::ExchangeCallbacks(TZELCallbackPair& pair) {
    return FOwner.ExchangeCallbacks(pair);
}
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::ShowPropertyPage() { return FOwner.ShowPropertyPage(); }
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::HidePropertyPage() { return FOwner.HidePropertyPage(); }
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::LoadSettings() { return FOwner.LoadSettings(); }
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::SaveSettings() { return FOwner.SaveSettings(); }
int32_t ZEL_CALL TZELALL3000::TConfigIntf::GetRefCount() { return FOwner.GetRefCount(); }
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::GetConfiguration(TZELALL3000Settings& config) {
    return Guarded([&] { return FOwner.GetConfiguration(config); });
}
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::SetConfiguration(const TZELALL3000Settings& config) {
    return Guarded([&] { return FOwner.SetConfiguration(config); });
}
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::DetectSensors() {
    return Guarded([&] { return FOwner.DetectSensors(); });
}
HRESULT ZEL_CALL TZELALL3000::TConfigIntf::UpdateNow() {
    return Guarded([&] { return FOwner.UpdateNow(); });
}

}  // namespace zel
