#include "device/IO.ALL3000_Interface.h"

#include <chrono>
#include <string_view>
#include <thread>

#include "net/IdHTTP.h"
#include "platform/Exceptions.h"
#include "platform/TextUtils.h"
#include "xml/ECXMLParser.h"

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

constexpr int32_t kStatusConnected = 102;
constexpr int32_t kStatusNoAnswer = 201;
constexpr int32_t kTestTimeoutMs = 2000;
// Detection and the connection test block the host's main thread: bound them. The test only
// needs the box's first reply, and a host creating many instances runs one test after another.
constexpr int32_t kTestExchangeTimeoutMs = 3000;
constexpr int32_t kDetectTimeoutMs = 5000;
constexpr int32_t kDetectExchangeTimeoutMs = 10000;
constexpr int32_t kWaitStepMs = 100;
constexpr std::string_view kDetectFailedText = "Error Reading Configuration! Please check IP-Adress";
// Starts the debug message that follows a failure's own message and says what caused it.
constexpr std::string_view kCausePrefix = "  cause: ";

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

// Loads a reply through the parser's stream load: the 4096-byte window first, then, for a line or a
// tag that does not fit it, a window that holds the whole reply. A reply the box cannot have sent
// as it stands raises: one with a NUL byte (the document would end there), or one that ends inside
// an element (a reply cut short, where the last reading may be cut in the middle).
void LoadReply(TECXMLParser& parser, const std::string& body) {
    if (body.find('\0') != std::string::npos) throw Exception("The reply holds a NUL byte");
    TBytesViewStream stream(body);
    parser.LoadFromStream(stream);
    if (!parser.RootItem().LoadComplete()) throw Exception("The reply ends inside an element");
}

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
    FScheduleMs = MonotonicMs();
    FFetchDone = std::make_unique<PostedCall>([this] { FinishTimerUpdate(); });
    FTimer = std::make_unique<WindowTimer>(kTimerIntervalMs, [this] { OnTimerTick(); }, true);
    LoadSettings();
    Log(LogCodeInfo, "Interface Create");
}

TZELALL3000::~TZELALL3000() {
    // Nothing here may throw: every step runs even when an earlier one failed.
    FDestroying = true;
    // A fetch still under way is given up: its thread ends at once, and its result is dropped
    // with the call that would have handed it over.
    FTimerFetch.reset();
    FFetchDone.reset();
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

void TZELALL3000::Debug(std::string_view text) const noexcept {
    if (!FDebugServer) return;
    try {
        ZELString t(text);
        FDebugServer->SendDebug(FInstanceID, t.Ref(), 0);
    } catch (...) {
        // The debug channel is a courtesy; its failure must not end the caller's work.
    }
}

void TZELALL3000::DebugCause(std::string_view cause) const noexcept {
    try {
        Debug(std::string(kCausePrefix) + std::string(cause));
    } catch (...) {
        // No memory for the line: the failure's own message has been sent already.
    }
}

void TZELALL3000::SetStatus(int32_t status) const noexcept {
    if (!FInstanceControl) return;
    try {
        FInstanceControl->SetInstanceStatus(FInstanceID, status);
    } catch (...) {
        // As for debug messages: the host's trouble is not the instance's.
    }
}

std::string TZELALL3000::DeviceURL() const { return "http://" + FConfig.IPAddress.Str() + "/xml"; }

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

HRESULT ZEL_CALL TZELALL3000::ShowPropertyPage() {
    return Guarded([&] {
        const TPropertyPageFactory& factory = PropertyPageFactory();
        if (!FPropertyPage) {
            if (!factory.Create) return E_NOTIMPL;  // a build without windows has no page
            FPropertyPage.reset(factory.Create());
        }
        FPropertyPage->SetReferences(&FConfigIntf, FInstanceControl.Get(), FVariableManager.Get());
        FPropertyPage->ShowPage();
        return S_OK;
    });
}

HRESULT ZEL_CALL TZELALL3000::HidePropertyPage() {
    return Guarded([&] {
        if (FPropertyPage) {
            // Hiding makes the page let go of its reference, which may be the instance's last: only
            // the page, held here, is touched after it.
            TPropertyPagePtr page = std::move(FPropertyPage);
            page->HidePage();
            page->SetReferences(nullptr, nullptr, nullptr);
        }
        return S_OK;
    });
}

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
    return TestConnection();
}

HRESULT TZELALL3000::TestConnection() {
    int32_t state = 0;
    bool running = false;
    try {
        running = FKernel && Succeeded(FKernel->GetKernelState(&state)) && state == kKernelStateRunning;
    } catch (...) {
        // A kernel that cannot say its state is not running.
    }
    // No keep-alive reference here: the test handles no messages, and it also runs inside the
    // constructor, where the count is still 0 and a reference dropped again would free the instance.
    if (!running) return S_OK;
    try {
        TIdHTTP http;
        LimitFetch(http, kTestTimeoutMs, kTestExchangeTimeoutMs);
        Debug("Testing connection on " + FConfig.IPAddress.Str());
        const std::string body = http.Get(DeviceURL());
        if (body.find("ALL3000") != std::string::npos) {
            SetStatus(kStatusConnected);
            Debug("Successfully connected!");
        } else {
            SetStatus(kStatusNoAnswer);
            Debug("No response from Device!");
            DebugCause("The reply does not name an ALL3000");
        }
    } catch (...) {
        const std::string cause = CurrentFailureText();
        Log(LogCodeConnectionFailed, "Could not connect to Device!");
        SetStatus(kStatusNoAnswer);
        Debug("No response from Device!");
        DebugCause(cause);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT TZELALL3000::DetectSensors() {
    // The message box runs the event loop; the host may release the instance meanwhile.
    TKeepAlive keep(*this);
    auto failed = [this](const std::string& cause) {
        ShowMessageBox(std::string(kDetectFailedText));
        DebugCause(cause);
        return E_FAIL;
    };
    std::string body;
    {
        TIdHTTP http;
        LimitFetch(http, kDetectTimeoutMs, kDetectExchangeTimeoutMs);
        bool fetched = false;
        std::string cause;
        try {
            body = http.Get(DeviceURL());
            fetched = true;
        } catch (...) {
            cause = CurrentFailureText();
        }
        // The client is freed once the box is closed, with the connection it may still hold.
        if (!fetched) return failed(cause);
    }
    try {
        TECXMLParser parser;
        LoadReply(parser, body);
        // A reply without the box's data, or without a single sensor code, is no box's answer:
        // taken as one, it would set every input to "Unknown" and unbind them at the next OK.
        TXMLItem& root = parser.RootItem();
        const int dataIndex = root.IndexOfName("data");
        if (dataIndex < 0) throw Exception("The reply has no data");
        TXMLItem* data = root.SubItems(dataIndex);
        std::string codes[kALL3000Inputs];
        bool anyCode = false;
        for (int i = 0; i < kALL3000Inputs; ++i) {
            const int index = data->IndexOfName("s" + std::to_string(i));
            if (index >= 0) codes[i] = data->SubItems(index)->Text();
            anyCode = anyCode || !codes[i].empty();
        }
        if (!anyCode) throw Exception("The reply has no sensor code");
        for (int i = 0; i < kALL3000Inputs; ++i)
            FConfig.Devices[i].DeviceType = codes[i].empty() ? stNone : SensorTypeFromCode(StrToInt(codes[i]));
    } catch (...) {
        // A reply that cannot be read, or a code that is no number: the types set so far stay.
        return failed(CurrentFailureText());
    }
    return S_OK;
}

HRESULT TZELALL3000::UpdateNow() {
    // Waiting handles messages, and the host may release the instance meanwhile.
    TKeepAlive keep(*this);
    Debug("Updating...");
    TReaderThread fetch(DeviceURL());
    while (fetch.Busy()) WaitWithMessages(kWaitStepMs);
    FinishUpdate(fetch);
    return S_OK;
}

void TZELALL3000::FinishUpdate(const TReaderThread& fetch) {
    bool read = false;
    std::string cause = fetch.Failure();
    if (fetch.Success() && Trim(fetch.Body()).empty()) {
        cause = "The reply is empty";
    } else if (fetch.Success()) {
        try {
            WriteReadings(fetch.Body());
            read = true;
        } catch (...) {
            // A reply that cannot be loaded counts as no reply.
            cause = CurrentFailureText();
        }
    }
    if (!read) {
        Debug(">Error reading Values!");
        DebugCause(cause);
    }
    FLastUpdate = Now();
}

void TZELALL3000::WriteReadings(const std::string& body) {
    TECXMLParser parser;
    LoadReply(parser, body);
    TXMLItem* data = parser.RootItem().ItemByName("data");
    for (int i = 0; i < kALL3000Inputs; ++i) {
        // A copy: the host's calls below may run code that changes the configuration.
        const TZELALL3000Device device = FConfig.Devices[i];
        if (device.VarName.Empty()) continue;
        try {
            const auto value = static_cast<float>(ParseReading(data->ItemByName("t" + std::to_string(i))->Text()));
            if (device.DeviceType == stNone) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (!FVariableManager) {
                // No variable manager: nothing can be written.
            } else if (device.DeviceType == stSwitch) {
                FVariableManager->WriteVariableBoolean(device.VarName.Ref(), value != 0.0f ? 1 : 0);
            } else {
                FVariableManager->WriteVariableFloat(device.VarName.Ref(), value);
            }
        } catch (...) {
            Debug("Error Updating...");
        }
    }
}

// ---- timer -------------------------------------------------------------------------------------

bool TZELALL3000::IsUpdateDue(int64_t nowMs) const noexcept {
    if (FConfig.Interval <= 0) return true;
    return nowMs >= FScheduleMs + int64_t{FConfig.Interval} * 1000 - kTimerIntervalMs / 2;
}

bool TZELALL3000::TimerEnabled() const { return FTimer && FTimer->Enabled(); }

void TZELALL3000::OnTimerTick() {
    if (FDestroying || !FTimer || FTimerFetch) return;
    const int64_t now = MonotonicMs();
    if (!IsUpdateDue(now)) return;
    // The host may release its last reference while it handles the debug message; declared
    // first, this is dropped last, and nothing touches the instance after it.
    TKeepAlive keep(*this);
    // The next start is one Interval after this one's scheduled start, so that a late tick or a
    // long update does not push every later update back; a schedule left behind starts anew.
    const int64_t interval = int64_t{FConfig.Interval} * 1000;
    FScheduleMs = interval > 0 && FScheduleMs + 2 * interval > now ? FScheduleMs + interval : now;
    try {
        FTimer->SetEnabled(false);
        Debug("Updating...");
        PostedCall* done = FFetchDone.get();
        FTimerFetch = std::make_unique<TReaderThread>(DeviceURL(), [done] { done->Post(); });
    } catch (...) {
        // No fetch could be started: the next tick tries again.
        if (FTimer) FTimer->SetEnabled(true);
    }
}

void TZELALL3000::FinishTimerUpdate() {
    // Also reached while the destructor lets the host handle messages: nothing may start then.
    if (FDestroying || !FTimerFetch || FTimerFetch->Busy()) return;
    // The host's calls below may release the instance; it lives until this handler is done.
    TKeepAlive keep(*this);
    const std::unique_ptr<TReaderThread> fetch = std::move(FTimerFetch);
    FinishUpdate(*fetch);
    if (FTimer && !FDestroying) FTimer->SetEnabled(true);
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
