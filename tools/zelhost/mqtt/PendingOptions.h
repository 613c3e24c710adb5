#pragma once
// The two option helpers the bridge needs from Options.h, until they are declared there.
#include <optional>
#include <string>

#include "Options.h"

namespace zelhost {

// The broker's password: the password file's contents without one trailing line break, else
// ZELHOST_MQTT_PASSWORD when it is set, else none. zel::Exception, with the reason but never the
// contents, when the file cannot be read or a password comes without a user.
std::optional<std::string> LoadMqttPassword(const TMqttOptions& options);
// "zelhost-" and this machine's name: the client id when none is given.
std::string DefaultClientId();

}  // namespace zelhost
