#pragma once
// Python's HTTP/1.0 server (tests/net/http10_server.py) on 127.0.0.1, answering GET with the files
// of one folder. On Linux the peer starts the server and stops it with itself. A Windows program
// under wine cannot start a Linux process, so there scripts/with-http10-peer.sh runs the server
// around the whole program and names its port and folder in ZEL_HTTP10_PORT and ZEL_HTTP10_DIR.
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace zeltest {

class THttp10Peer {
public:
    // std::runtime_error when there is no server to use.
    THttp10Peer();
    ~THttp10Peer();
    THttp10Peer(const THttp10Peer&) = delete;
    THttp10Peer& operator=(const THttp10Peer&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(FPort) + path; }
    // Makes the server answer a GET of /name with `body`.
    void Serve(const std::string& name, const std::string& body) const {
        std::ofstream out(FDir + "/" + name, std::ios::binary);
        out << body;
        if (!out.flush()) throw std::runtime_error("cannot write " + FDir + "/" + name);
    }

private:
    struct TServer;  // what the peer started itself, if anything
    std::unique_ptr<TServer> FServer;
    std::string FDir;
    int FPort = 0;
};

}  // namespace zeltest
