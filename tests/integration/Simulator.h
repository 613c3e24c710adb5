#pragma once
// all3000-sim on a free port of 127.0.0.1 for as long as the object lives, and a store that points
// an instance at it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Process.h"
#include "Zelhost.h"

namespace zeltest {

class TSimulator {
public:
    explicit TSimulator(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {ALL3000_SIM_BIN, "--port", "0"});
        FProcess = std::make_unique<TChildProcess>(args);
        EXPECT_TRUE(FProcess->WaitForOutput("\n", 5000));
        FAddress = FProcess->Output().substr(FProcess->Output().find("127.0.0.1:"));
        FAddress.resize(FAddress.find('\n'));
    }
    const std::string& Address() const { return FAddress; }

private:
    std::unique_ptr<TChildProcess> FProcess;
    std::string FAddress;
};

// A store whose instance 1 (or `instance`) polls `address` every second (or `interval` seconds)
// with inputs bound as "name:type".
inline std::string BoxStore(const TTempDir& dir, const std::string& address, const std::vector<std::string>& bindings,
                            int instance = 1, int interval = 1) {
    std::vector<std::string> args = {"set", "--store", dir.File("store.xml"), "--instance", std::to_string(instance),
                                     "Settings/IPAddress=" + address, "Settings/Interval=" + std::to_string(interval)};
    for (size_t i = 0; i < bindings.size(); ++i) {
        const size_t colon = bindings[i].find(':');
        args.push_back("Settings/S" + std::to_string(i) + "/VarName=" + bindings[i].substr(0, colon));
        args.push_back("Settings/S" + std::to_string(i) + "/DeviceType=" + bindings[i].substr(colon + 1));
    }
    EXPECT_EQ(Zel(args).ExitCode, 0);
    return dir.File("store.xml");
}

}  // namespace zeltest
