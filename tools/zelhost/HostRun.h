#pragma once
// `zelhost run`: load the module, register it, create its instances, run the event loop, and
// take everything down again in order, saving the settings store.
#include "Options.h"

namespace zelhost {

// Returns the exit code. The store is the run's alone from start to end (TStoreOwner).
// EStoreError (EStoreInUse when another process holds the store) / ELoadError when the host
// cannot start: the store is then left untouched.
int RunHost(const TRunOptions& options);

}  // namespace zelhost
