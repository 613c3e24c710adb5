#pragma once
// The MQTT bridge of a run: the readings, statuses, debug and log lines of the run's instances as
// MQTT topics under the prefix, discovery configs that make the sensors appear on their own, and
// commands from the broker run on the main thread.
#include <memory>

#include "HostRun.h"

namespace zelhost {

// For RunHost when `options.Mqtt` is set; throws zel::Exception when the password file cannot be
// read (exit 1).
std::unique_ptr<TRunObserver> MakeMqttBridge(const TRunOptions& options, const TRunContext& context);

}  // namespace zelhost
