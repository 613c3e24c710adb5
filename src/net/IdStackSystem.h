#pragma once
// What the socket stack's shared code (IdStack.cpp) and its system-specific files (IdStackPosix.cpp,
// IdStackWin32.cpp) give each other. Only those files include this.
#include <cstdint>
#include <string>

#include "net/IdSocketHeaders.h"
#include "net/IdStack.h"

namespace zel::detail {

// Written once, in IdStack.cpp:

// A socket address for a dotted IPv4 text ("" = any) and port; other IP versions are not supported.
sockaddr_in MakeAddress(const std::string& ip, int32_t port, TIdIPVersion ipVersion);
// EIdNotASocket for 10038, else EIdSocketError with `code`.
[[noreturn]] void RaiseSocketError(int32_t code);

// Written per system:

enum class TReady : uint8_t { Read, Write };
// Waits until `socket` is ready for `ready` or has failed (the next call on it reports why), for at
// most `timeoutMs` (negative: no limit). False when the time ran out; EIdCancelled once `cancel` is
// raised, also when the socket is ready as well.
bool WaitFor(TIdStackSocketHandle socket, TReady ready, int32_t timeoutMs, const TIdCancelSignal* cancel);
// Keeps the code of the library this is linked into loaded until the process ends, also when the
// host unloads the module: a lookup given up on still runs in it. Best effort, once per process.
void KeepCodeLoaded() noexcept;

}  // namespace zel::detail
