// The HTTP/1.0 peer run around this program by scripts/with-http10-peer.sh.
#include "Http10Peer.h"

#include <cstdlib>

namespace zeltest {

struct THttp10Peer::TServer {};

THttp10Peer::THttp10Peer() {
    const char* port = std::getenv("ZEL_HTTP10_PORT");
    const char* dir = std::getenv("ZEL_HTTP10_DIR");
    if (!port || !dir) throw std::runtime_error("no HTTP/1.0 server: run this program through scripts/with-http10-peer.sh");
    FPort = std::atoi(port);
    FDir = dir;
}

THttp10Peer::~THttp10Peer() = default;

}  // namespace zeltest
