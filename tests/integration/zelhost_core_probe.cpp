// Runs the toolkit-free host as far as a store it cannot take; its test checks that it links
// without Qt.
#include <cstdio>

#include "HostRun.h"

int main() {
    zelhost::TRunOptions options;
    options.Store = "/nonexistent/zelhost-probe/store.xml";
    try {
        zelhost::RunHost(options, nullptr);  // ends before it would bring a toolkit up
    } catch (const zelhost::EStoreError& e) {
        std::printf("%s\n", e.what());
        return 0;
    }
    return 1;
}
