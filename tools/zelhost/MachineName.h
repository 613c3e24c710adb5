#pragma once
// This machine's name on the network, as its system reports it. MachineNamePosix.cpp asks POSIX,
// MachineNameWin32.cpp asks Windows.
#include <string>

namespace zelhost {

// The host name ("pi", "server.home"); empty when the system gives none.
std::string MachineName();

}  // namespace zelhost
