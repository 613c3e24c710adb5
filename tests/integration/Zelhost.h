#pragma once
// The zelhost and module under test, and running zelhost to its end.
#include <string>
#include <vector>

#include "Process.h"

namespace zeltest {

inline const std::string Zelhost = ZELHOST_BIN;
inline const std::string Module = ZELHOST_MODULE;

inline TProcessResult Zel(std::vector<std::string> args) {
    args.insert(args.begin(), Zelhost);
    return RunProcess(args);
}

}  // namespace zeltest
