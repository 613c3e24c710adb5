#pragma once
// `zelhost run`, `page` and `detect`: load the module, register it, create its instances, run the
// event loop, and take everything down again in order, saving the settings store. The steps are
// the same on every platform; only the toolkit they run on differs (Toolkit.h).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "Events.h"
#include "HostServices.h"
#include "ModuleLibrary.h"
#include "Options.h"
#include "SettingsStore.h"
#include "StopSignals.h"
#include "StoreOwner.h"
#include "Toolkit.h"

namespace zelhost {

// An instance the run created: the host's reference to it.
struct TRunningInstance {
    uint16_t ID;
    zel::IZELModule* Module;
};

// What a run offers whatever follows it (the MQTT bridge); all of it outlives the observer.
struct TRunContext {
    TEventPrinter& Events;
    TToolkit& Toolkit;
    // The settings store, read and written under StoreLock.
    TSettingsStore& Store;
    std::mutex& StoreLock;
};

// Follows a run from its start to its end, on the main thread. Destroying it stops it as Stop does.
class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    // The run's instances exist (those that could be created, in the order asked for).
    virtual void InstancesCreated(std::span<const TRunningInstance> instances) = 0;
    // The instances are about to be released: no call into them from here on.
    virtual void InstancesReleasing() = 0;
    // The instances and the module are gone and the store is written; ends what the observer keeps
    // running, within a couple of seconds.
    virtual void Stop() = 0;
};
// Made once the store is loaded and the toolkit is up, before the module loads; throws for what
// it cannot start with (exit 1).
using TMakeObserver = std::unique_ptr<TRunObserver> (*)(const TRunOptions& options, const TRunContext& context);

// One run, from taking the store to writing it for the last time; RunHost calls the steps in
// the order they are declared.
class THostRun {
public:
    // Takes the store for the whole run and loads it, then brings up the toolkit, the host's
    // services and the stop signals. EStoreError (EStoreInUse when another process holds the
    // store; also when every instance of an empty store is asked for), with the store left
    // untouched.
    THostRun(const TRunOptions& options, TMakeToolkit makeToolkit);
    THostRun(const THostRun&) = delete;
    THostRun& operator=(const THostRun&) = delete;

    // Loads the module (the installed one when none is named) and registers it with the host's
    // kernel. False, said on stderr, when the module refuses; ELoadError when the file is no
    // module or none is installed.
    bool Start();
    // Creates the module's instances in the order asked for, until a stop signal arrives; one that
    // is not created is reported and left out.
    void CreateInstances();
    // For `page`, shows the first instance's page; then runs the event loop until the time limit,
    // a stop signal or the page ends it. Returns the run's exit code.
    int RunLoop();
    // For `detect`, instead of the event loop: the first instance detects its box's sensors through
    // its ALL3000 configuration interface, as its page's button does. 0 when it did; 1, said on
    // stderr, when it failed (having shown its message box) or the instance has no such interface.
    int DetectSensors();
    // What the run offers an observer, and the instances it created.
    TRunContext Context() noexcept { return {FEvents, *FToolkit, FStore, FHost.StoreLock}; }
    std::span<const TRunningInstance> Instances() const noexcept { return FInstances; }
    // Hides the pages and releases the instances, unregisters and unloads the module (or keeps it
    // loaded while an instance lives on), reports what the module kept, and writes the store
    // (EStoreError when it cannot).
    void ShutDown();

private:
    // Writes the store now; a failure is a notice, and the run goes on.
    void FlushStore();
    // 0 when the instance shows its page, which then ends the run when it is closed or once it has
    // been rendered into the screenshot file; 1, said on stderr, when it shows none.
    int ShowPage(zel::IZELModule* module);
    // Hides each instance's page and releases it; true when every instance went away.
    bool ReleaseInstances();

    // In the order they are taken down last to first: the store is held until everything else
    // is gone.
    const TRunOptions& FOptions;
    TStoreOwner FOwner;
    TSettingsStore FStore;
    TEventPrinter FEvents;
    std::unique_ptr<TToolkit> FToolkit;
    THost FHost;
    std::atomic<bool> FFlushQueued{false};
    std::optional<TStopSignals> FSignals;
    std::optional<TModuleLibrary> FLibrary;
    // The instances asked for: those of the options, or every one of the store.
    std::vector<uint16_t> FInstanceIDs;
    std::vector<TRunningInstance> FInstances;
};

// The whole run on the toolkit `makeToolkit` brings up, followed by the observer `makeObserver`
// makes, if any; returns the exit code. Throws what THostRun's steps throw.
int RunHost(const TRunOptions& options, TMakeToolkit makeToolkit, TMakeObserver makeObserver = nullptr);

}  // namespace zelhost
