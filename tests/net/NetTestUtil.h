#pragma once
// Shared pieces of the transport tests: a client connected to a loopback peer, a device reply, and
// a clock.
#include <chrono>
#include <memory>
#include <string>

#include "net/IdTCPClient.h"

namespace zeltest {

// A client connected to 127.0.0.1:port with the given read time-out.
inline std::unique_ptr<zel::TIdTCPClient> ConnectedClient(int port, int32_t readTimeout = 2000) {
    auto c = std::make_unique<zel::TIdTCPClient>();
    c->Host = "127.0.0.1";
    c->Port = port;
    c->SetReadTimeout(readTimeout);
    c->Connect();
    return c;
}

// A device reply shaped like the real box's, with some bulk so that it spans several receives.
inline std::string DeviceReply() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<xml><data>\r\n<devicename>ALL3000 \xb0" "C</devicename>\r\n";
    for (int i = 0; i < 8; ++i) {
        std::string n = std::to_string(i);
        xml += "<n" + n + ">Sensor " + n + "</n" + n + "><t" + n + "> " + std::to_string(10 + i) + ".5" + n + "</t" + n + "><s" + n + ">" +
               std::to_string(i) + "</s" + n + ">\r\n";
    }
    xml += "<pad>" + std::string(70000, 'p') + "</pad>\r\n</data></xml>\r\n";
    return xml;
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace zeltest
