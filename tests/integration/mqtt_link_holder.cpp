// Holds an MQTT link until it is killed, for the test of the broker's last will: `mqtt_link_holder
// PORT STATUS_TOPIC` connects to 127.0.0.1:PORT and prints each notice on a line.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "MqttLink.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    zelhost::TMqttSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = static_cast<uint16_t>(std::stoi(argv[1]));
    settings.ClientId = "holder-" + std::to_string(::getpid());
    settings.StatusTopic = argv[2];
    zelhost::TMqttLink link(settings, {[](std::string_view text) {
                                           std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
                                           std::fflush(stdout);
                                       },
                                       {}});
    for (;;) ::pause();
}
