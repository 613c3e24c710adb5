#pragma once
// Shared pieces of the transport tests: a client connected to a loopback peer, and a clock.
#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

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

// A name server on 127.0.0.1:53 that never answers, where scripts/in-netns.sh points the resolver;
// not Ready where the port cannot be had.
class TSilentResolver {
public:
    TSilentResolver() : FFd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
        FReady = ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~TSilentResolver() { ::close(FFd); }
    bool Ready() const noexcept { return FReady; }
    // The queries that arrived so far.
    int Queries() {
        for (char packet[512]; ::recv(FFd, packet, sizeof packet, 0) > 0;) ++FQueries;
        return FQueries;
    }

private:
    int FFd;
    bool FReady = false;
    int FQueries = 0;
};

}  // namespace zeltest
