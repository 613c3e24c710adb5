// zelhost.exe has no MQTT bridge: its home is a Linux server.
#include "Bridge.h"

namespace zelhost {

std::unique_ptr<TRunObserver> MakeMqttBridge(const TRunOptions&, const TRunContext&) {
    throw EUsage("this build has no MQTT bridge");
}

}  // namespace zelhost
