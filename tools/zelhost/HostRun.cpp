#include "HostRun.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <string>

#include "device/IO.ALL3000_Types.h"
#include "platform/ProcessLimits.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

// Module entries are functions of another library: whatever escapes one is reported and counts as
// a failure, so the host still takes everything down in order.
template <class R, class F>
R CallModule(TEventPrinter& events, const std::string& what, R failed, F&& call) noexcept {
    try {
        return call();
    } catch (...) {
        try {
            events.Notice("warning: " + what + " let an exception escape");
        } catch (...) {
        }
        return failed;
    }
}

}  // namespace

THostRun::THostRun(const TRunOptions& options, TMakeToolkit makeToolkit)
    : FOptions(options),
      FOwner(options.Store, TStoreOwner::TUse::Write),
      FStore(options.Store),
      FEvents(options.Json),
      FHost(FEvents, FStore, options.Refuse, options.KernelState.value_or(zel::kKernelStateRunning)) {
    FStore.Load();
    // Known before anything starts, so that a store without instances ends the run at once.
    FInstanceIDs = options.Instances;
    if (options.AllInstances) {
        FInstanceIDs = FStore.Instances();
        if (FInstanceIDs.empty())
            throw EStoreError("the store " + options.Store + " has no instances: add one with zelhost set --store " +
                              options.Store + " --instance ID Settings/IPAddress=ADDRESS");
    }
    // Every box being fetched holds a socket and a wake-up descriptor for a while: a host with
    // hundreds of boxes needs more than the usual soft limit of 1024.
    zel::RaiseDescriptorLimit();
    FToolkit = makeToolkit(FEvents);
    // A reader of our output that goes away must not kill the host before it saved the store.
    IgnoreBrokenPipes();

    FHost.Chooser = [this](uint8_t kind, const std::vector<std::string>& names, std::string& chosen) {
        return FToolkit->ChooseVariable(kind, names, chosen);
    };
    FHost.Instances.ReserveIDs(FInstanceIDs);
    FHost.Variables.DeclareBindings(FStore);

    // The writes of one SaveSettings come in a burst; the file is written once at the end of the
    // current event loop turn, after the burst.
    FStore.OnChanged = [this] {
        if (FFlushQueued.exchange(true)) return;
        FToolkit->Post([this] {
            FFlushQueued = false;
            FlushStore();
        });
    };
    FSignals.emplace(*FToolkit);
}

bool THostRun::Start() {
    FLibrary.emplace(FOptions.Module.empty() ? InstalledModule() : FOptions.Module);
    const zel::TZELModuleInfo& info = FLibrary->Info();
    if (!FOptions.Json)
        std::fprintf(stderr, "zelhost: module %s (%s) %s\n", zel::Win1252ToUtf8(zel::hoststr::View(info.Name)).c_str(),
                     zel::Win1252ToUtf8(zel::hoststr::View(info.Description)).c_str(),
                     zel::GUIDToString(info.ModuleID).c_str());

    zel::HRESULT r = CallModule(FEvents, "Register", zel::E_FAIL, [&] { return info.Register(&FHost.Kernel); });
    if (zel::Failed(r)) {
        std::fprintf(stderr, "zelhost: the module refused to register (%s)\n", HexResult(r).c_str());
        return false;
    }
    return true;
}

void THostRun::CreateInstances() {
    const zel::TZELModuleInfo& info = FLibrary->Info();
    for (uint16_t id : FInstanceIDs) {
        // Each creation may test its box for a few seconds: a stop must not wait for all of them.
        if (FSignals->Requested()) break;
        zel::IZELModule* module = nullptr;
        zel::HRESULT r = CallModule(FEvents, "CreateInstance", zel::E_FAIL, [&] { return info.CreateInstance(id, &module); });
        if (zel::Failed(r) || !module) {
            FEvents.Notice("warning: instance " + std::to_string(id) + " was not created (" + HexResult(r) + ")");
            continue;
        }
        FInstances.push_back({id, module});
    }
}

int THostRun::RunLoop() {
    if (FOptions.Milliseconds) FToolkit->QuitAfter(*FOptions.Milliseconds);
    int exitCode = 0;
    if (FOptions.Page) exitCode = ShowPage(FInstances.empty() ? nullptr : FInstances.front().Module);
    if (exitCode == 0 && !FSignals->Requested()) exitCode = FToolkit->Run();
    return exitCode;
}

int THostRun::DetectSensors() {
    zel::IZELModule* module = FInstances.empty() ? nullptr : FInstances.front().Module;
    void* face = nullptr;
    zel::HRESULT r = module ? CallModule(FEvents, "QueryInterface", zel::E_FAIL,
                                         [&] { return module->QueryInterface(zel::IID_IZELALL3000, &face); })
                            : zel::E_FAIL;
    if (zel::Failed(r) || !face) {
        std::fprintf(stderr, "zelhost: the instance offers no sensor detection (%s)\n", HexResult(r).c_str());
        return 1;
    }
    auto* config = static_cast<zel::IZELALL3000*>(face);
    r = CallModule(FEvents, "DetectSensors", zel::E_FAIL, [&] { return config->DetectSensors(); });
    CallModule(FEvents, "Release", 0, [&] { return config->Release(); });
    if (zel::Failed(r)) {
        std::fprintf(stderr, "zelhost: the sensor detection failed (%s)\n", HexResult(r).c_str());
        return 1;
    }
    return 0;
}

void THostRun::ShutDown() {
    // From here on a second signal acts as it normally would.
    FSignals->Restore();
    const bool instancesAlive = !ReleaseInstances();
    zel::HRESULT r = CallModule(FEvents, "Unregister", zel::E_FAIL, [&] { return FLibrary->Info().Unregister(); });
    if (zel::Failed(r)) FEvents.Notice("warning: Unregister failed (" + HexResult(r) + ")");

    // What the module posted or scheduled for deletion runs while its code is still loaded.
    FToolkit->RunPosted();
    if (instancesAlive) {
        FEvents.Notice("warning: the module stays loaded: some of its instances are still alive");
        FLibrary->Keep();
    } else {
        FLibrary->Close();
    }
    FHost.CheckReleased();

    std::lock_guard lock(FHost.StoreLock);
    FStore.OnChanged = nullptr;
    FStore.Flush();
}

void THostRun::FlushStore() {
    try {
        std::lock_guard lock(FHost.StoreLock);
        FStore.Flush();
    } catch (const std::exception& e) {
        try {
            FEvents.Notice(std::string("warning: settings not saved: ") + e.what());
        } catch (...) {
        }
    }
}

int THostRun::ShowPage(zel::IZELModule* module) {
    zel::HRESULT r = module ? CallModule(FEvents, "ShowPropertyPage", zel::E_FAIL, [&] { return module->ShowPropertyPage(); })
                            : zel::E_FAIL;
    if (zel::Failed(r) || !FToolkit->HasPage()) {
        std::fprintf(stderr, "zelhost: the instance shows no page (%s)\n", HexResult(r).c_str());
        return 1;
    }
    if (!FOptions.Screenshot.empty())
        FToolkit->ScreenshotPage(FOptions.Screenshot, FOptions.Click);
    else
        FToolkit->QuitWhenPageCloses();
    return 0;
}

bool THostRun::ReleaseInstances() {
    bool allGone = true;
    for (const TRunningInstance& instance : FInstances) {
        std::string name = "instance " + std::to_string(instance.ID);
        CallModule(FEvents, name + " HidePropertyPage", zel::E_FAIL, [&] { return instance.Module->HidePropertyPage(); });
        // An instance whose release failed may still be alive: its code must stay loaded.
        int32_t left = CallModule(FEvents, name + " Release", 1, [&] { return instance.Module->Release(); });
        if (left > 0) {
            allGone = false;
            FEvents.Notice("warning: instance " + std::to_string(instance.ID) + " is still referenced " +
                           std::to_string(left) + " times after the host released it");
        }
    }
    return allGone;
}

int RunHost(const TRunOptions& options, TMakeToolkit makeToolkit, TMakeObserver makeObserver) {
    THostRun run(options, makeToolkit);
    // Destroyed before the run: it stops following the events before they go.
    std::unique_ptr<TRunObserver> observer = makeObserver ? makeObserver(options, run.Context()) : nullptr;
    if (!run.Start()) return 1;
    run.CreateInstances();
    if (observer) observer->InstancesCreated(run.Instances());
    const int exitCode = options.Detect ? run.DetectSensors() : run.RunLoop();
    if (observer) observer->InstancesReleasing();
    run.ShutDown();
    if (observer) observer->Stop();
    return exitCode;
}

}  // namespace zelhost
