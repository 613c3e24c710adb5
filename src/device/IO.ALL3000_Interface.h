#pragma once
// One configured ALL3000 box: the host services it uses, its configuration in the host's settings
// store, and the one-second timer that drives its updates.
#include <cstdint>
#include <memory>
#include <string>

#include "device/IO.ALL3000_Types.h"
#include "device/PropertyPage.h"
#include "device/UThread.h"
#include "device/UZELUtils.h"
#include "host/UZELTypes.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"

namespace zel {

class TZELALL3000 : public TZELModuleObject {
public:
    // Keeps `kernel` (nil allowed: then no service and no log), `instanceID` and `moduleInfo` (not
    // owned; its Name and ModuleID are used).
    TZELALL3000(IZELKernel* kernel, uint16_t instanceID, const TZELModuleInfo* moduleInfo);

    // IZELModule
    HRESULT ZEL_CALL ExchangeCallbacks(TZELCallbackPair& pair) override;
    HRESULT ZEL_CALL ShowPropertyPage() override;
    HRESULT ZEL_CALL HidePropertyPage() override;
    HRESULT ZEL_CALL LoadSettings() override;
    HRESULT ZEL_CALL SaveSettings() override;

    // IZELALL3000, reached through the configuration interface below.
    virtual HRESULT GetConfiguration(TZELALL3000Settings& config);
    virtual HRESULT SetConfiguration(const TZELALL3000Settings& config);
    virtual HRESULT DetectSensors();
    virtual HRESULT UpdateNow();

    // The timer's handler: when an update is due, turns the timer off, starts the update's fetch
    // and returns at once. The fetch's end is handed back through the event loop, and the update
    // is finished there (FinishTimerUpdate).
    void OnTimerTick();
    // Due `Interval` seconds after the start of the last timer update (or construction), so updates
    // start every Interval seconds whatever they take; half a tick early counts, since ticks do
    // not come to the millisecond. Always with an Interval of 0 or less. `nowMs` is MonotonicMs().
    bool IsUpdateDue(int64_t nowMs) const noexcept;
    // End of the last update, or construction time.
    TDateTime LastUpdate() const noexcept { return FLastUpdate; }
    bool TimerEnabled() const;
    // Whether a timer update's fetch is under way.
    bool FetchRunning() const noexcept { return FTimerFetch != nullptr; }

protected:
    ~TZELALL3000() override;
    bool GetInterface(const TGUID& iid, void** obj) override;

private:
    // IZELALL3000 as a separate face of the instance: it shares the reference count and the
    // IZELModule operations, but answers QueryInterface in its own, narrower way.
    class TConfigIntf final : public IZELALL3000 {
    public:
        explicit TConfigIntf(TZELALL3000& owner) noexcept : FOwner(owner) {}
        HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
        int32_t ZEL_CALL AddRef() override;
        int32_t ZEL_CALL Release() override;
        HRESULT ZEL_CALL MessageSink(void* message) override;
        HRESULT ZEL_CALL ExchangeCallbacks(TZELCallbackPair& pair) override;
        HRESULT ZEL_CALL ShowPropertyPage() override;
        HRESULT ZEL_CALL HidePropertyPage() override;
        HRESULT ZEL_CALL LoadSettings() override;
        HRESULT ZEL_CALL SaveSettings() override;
        int32_t ZEL_CALL GetRefCount() override;
        HRESULT ZEL_CALL GetConfiguration(TZELALL3000Settings& config) override;
        HRESULT ZEL_CALL SetConfiguration(const TZELALL3000Settings& config) override;
        HRESULT ZEL_CALL DetectSensors() override;
        HRESULT ZEL_CALL UpdateNow() override;

    private:
        TZELALL3000& FOwner;
    };

    static HRESULT ZEL_CALL DataReceiver(void* self, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5);
    std::string Sender() const;
    void Log(int32_t code, std::string_view text) const noexcept;
    // The debug channel and the instance status; nothing without the service, never raising.
    void Debug(std::string_view text) const noexcept;
    // The debug message after a failure's own one: what caused it.
    void DebugCause(std::string_view cause) const noexcept;
    void SetStatus(int32_t status) const noexcept;
    std::string DeviceURL() const;
    // The connection test that SetConfiguration runs: S_OK unless the fetch failed.
    HRESULT TestConnection();
    // The end of every update once its fetch is over: the readings written, or ">Error reading
    // Values!" when there is nothing readable, and FLastUpdate.
    void FinishUpdate(const TReaderThread& fetch);
    // Runs through the event loop when a timer update's fetch has ended.
    void FinishTimerUpdate();
    // Writes every bound reading of a reply; a reading that fails is reported and skipped. Raises,
    // writing nothing, for a reply that cannot be read whole.
    void WriteReadings(const std::string& body);

    TIntf<IZELKernel> FKernel;
    TIntf<IZELVariableManager> FVariableManager;
    TIntf<IZELInstanceControl> FInstanceControl;
    TIntf<IZELEventScripter> FEventScripter;  // held, never called
    TIntf<IZELSettings> FSettings;
    TIntf<IZELDebugServer> FDebugServer;
    const TZELModuleInfo* FModuleInfo;
    TZELCallbackPair FCallbacks{};
    TZELALL3000Settings FConfig;
    uint16_t FInstanceID;
    TDateTime FLastUpdate = 0;
    // MonotonicMs() of the last timer update's scheduled start, or of construction.
    int64_t FScheduleMs = 0;
    std::unique_ptr<WindowTimer> FTimer;
    // The fetch of the timer update under way, and what hands its end to the main thread.
    std::unique_ptr<TReaderThread> FTimerFetch;
    std::unique_ptr<PostedCall> FFetchDone;
    TConfigIntf FConfigIntf;
    TPropertyPagePtr FPropertyPage;
    bool FDestroying = false;
};

}  // namespace zel
