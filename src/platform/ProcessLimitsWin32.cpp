#include "platform/ProcessLimits.h"

namespace zel {

// Nothing to raise: Windows sets no per-process limit on socket or file handles that a program
// could lift (they are bounded only by memory), and the runtime's own descriptor table is not used
// for sockets.
void RaiseDescriptorLimit() noexcept {}

}  // namespace zel
