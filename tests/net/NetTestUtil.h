#pragma once
// Shared pieces of the transport tests: a client connected to a loopback peer, and a clock.
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

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace zeltest
