#include "MachineName.h"

#include <unistd.h>

namespace zelhost {

std::string MachineName() {
    // POSIX leaves a truncated name unterminated: the last byte stays 0.
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace zelhost
