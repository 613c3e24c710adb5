// The HTTP/1.0 peer started by the test itself, as a child process.
#include "Http10Peer.h"

#include "Process.h"

namespace zeltest {

struct THttp10Peer::TServer {
    TTempDir Dir;
    std::unique_ptr<TChildProcess> Process;
};

THttp10Peer::THttp10Peer() : FServer(std::make_unique<TServer>()) {
    FDir = FServer->Dir.Path();
    // Port 0: the server binds a port the system chooses and names it after "ready".
    FServer->Process = std::make_unique<TChildProcess>(std::vector<std::string>{"/usr/bin/env", "python3", ZEL_HTTP10_SERVER, "0", FDir});
    std::string line;
    if (!FServer->Process->NextLine(line, 10000) || !line.starts_with("ready "))
        throw std::runtime_error("the HTTP/1.0 server did not start: " + FServer->Process->Output());
    FPort = std::stoi(line.substr(6));
}

THttp10Peer::~THttp10Peer() = default;  // the child process is killed and waited for

}  // namespace zeltest
