#pragma once
// The simulated box under test, on a free port of 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Process.h"

namespace zeltest {

inline const std::string Simulator = ALL3000_SIM_BIN;

// The simulated box on a free port of 127.0.0.1, stopped with the test.
class TSimulator {
public:
    explicit TSimulator(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {Simulator, "--port", "0"});
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

}  // namespace zeltest
