#include "MachineName.h"

#include <windows.h>

namespace zelhost {

std::string MachineName() {
    // The DNS host name, as gethostname gives it, without starting Winsock for it.
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return {};
    return std::string(name, size);
}

}  // namespace zelhost
