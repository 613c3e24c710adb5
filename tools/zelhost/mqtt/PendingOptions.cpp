#include "PendingOptions.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zelhost {

std::optional<std::string> LoadMqttPassword(const TMqttOptions& options) {
    std::optional<std::string> password;
    if (!options.PasswordFile.empty()) {
        std::ifstream in(options.PasswordFile, std::ios::binary);
        std::ostringstream text;
        if (!in || !(text << in.rdbuf()))
            throw zel::Exception("cannot read the MQTT password file " + options.PasswordFile + ": " + std::strerror(errno));
        password = text.str();
        if (password->ends_with("\r\n"))
            password->resize(password->size() - 2);
        else if (password->ends_with('\n'))
            password->pop_back();
    } else if (const char* variable = std::getenv("ZELHOST_MQTT_PASSWORD")) {
        password = variable;
    }
    if (password && options.User.empty())
        throw zel::Exception("an MQTT password is given but the broker URL names no user (mqtt://user@host)");
    return password;
}

std::string DefaultClientId() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !*name) return "zelhost";
    return std::string("zelhost-") + name;
}

}  // namespace zelhost
