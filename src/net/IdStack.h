#pragma once
// The process-wide socket stack: the one place that calls the system's socket functions. Every
// failed call becomes an EIdSocketError carrying the Windows socket error number (Winsock's own,
// or the one a POSIX errno maps to), so numbers and texts are the same on every platform.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace zel {

enum TIdIPVersion : uint8_t { Id_IPv4, Id_IPv6 };

#ifdef _WIN32
// Winsock's SOCKET and INVALID_SOCKET, without pulling the system headers into every user.
using TIdStackSocketHandle = uintptr_t;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = ~uintptr_t{0};
#else
using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
#endif

// Windows socket error numbers used by name in the code.
constexpr int32_t Id_WSAEINTR = 10004;
constexpr int32_t Id_WSAEBADF = 10009;
constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
constexpr int32_t Id_WSAENOTSOCK = 10038;
constexpr int32_t Id_WSAECONNREFUSED = 10061;
constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;
constexpr int32_t Id_WSATRY_AGAIN = 11002;

// The time-out values of the readability wait: -2 waits without limit, 0 only polls.
constexpr int32_t IdTimeoutInfinite = -2;

// "Socket Error # <n>" CR LF and the error's text ("" for numbers outside the table).
std::string SocketErrorText(int32_t errorCode);
#ifndef _WIN32
// The Windows socket error number for a system errno value (the errno itself when it has none).
int32_t SocketErrorFromErrno(int err) noexcept;
#endif
// The Windows socket error number for a failed name lookup (getaddrinfo's result and the errno of
// the thread that called it). Winsock's getaddrinfo answers with these numbers already.
int32_t SocketErrorFromLookup(int lookupResult, int err) noexcept;

// Raised by one thread to end another thread's transport waits at once: every wait that watches
// it (lookup, connect, read, send) raises EIdCancelled from the moment it is raised. It cannot be
// lowered again: a cancelled fetch is over.
class TIdCancelSignal {
public:
    // EIdSocketError when the system has no descriptor left for it. On Windows it is a socket and
    // holds one use of the stack.
    TIdCancelSignal();
    ~TIdCancelSignal();
    TIdCancelSignal(const TIdCancelSignal&) = delete;
    TIdCancelSignal& operator=(const TIdCancelSignal&) = delete;

    // Any thread, any number of times.
    void Cancel() noexcept;
    bool Cancelled() const noexcept { return FCancelled.load(std::memory_order_acquire); }
    // Readable once raised, for the waits to watch beside their socket.
    TIdStackSocketHandle Handle() const noexcept { return FHandle; }

private:
    std::atomic<bool> FCancelled{false};
    TIdStackSocketHandle FHandle;
};

class TIdStack {
public:
    // Every networking component is one user: the first creates the stack, the last frees it.
    static void IncUsage();
    static void DecUsage() noexcept;
    // The stack while it has users, else null.
    static TIdStack* Instance() noexcept;

    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // The name of this machine, read when the stack was created.
    const std::string& HostName() const noexcept { return FHostName; }

    // A new socket of `socketType` (SOCK_STREAM, ...) that child processes do not inherit.
    TIdStackSocketHandle NewSocketHandle(int socketType, int protocol, TIdIPVersion ipVersion);
    // Binds to a dotted address ("" = any) and port (0 = chosen by the system).
    void Bind(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion);
    // A blocking connect; returns when the system has connected or raises.
    void Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion);
    // A connect that gives up after `timeoutMs` (negative: no limit): false when the time ran out
    // with the attempt still pending (the caller closes the socket), true when connected.
    bool ConnectWithTimeout(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                            TIdIPVersion ipVersion, int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    // Receives what is waiting, without blocking: the count, 0 when the peer has closed, or
    // kWouldBlock when nothing can be read yet.
    static constexpr int32_t kWouldBlock = -1;
    int32_t Receive(TIdStackSocketHandle socket, char* buffer, int32_t length);
    // Sends up to `length` bytes (never raising SIGPIPE); the count the system took, maybe fewer.
    // Without `wait`, kWouldBlock when the system can take nothing now.
    int32_t Send(TIdStackSocketHandle socket, const char* data, int32_t length, bool wait = true);
    // True when the socket is readable (data waiting, or the peer closed) within `timeoutMs`
    // (IdTimeoutInfinite: no limit; 0: poll). EIdCancelled once `cancel` is raised.
    bool WaitReadable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    // True when a send could take bytes within `timeoutMs` (same values as WaitReadable).
    bool WaitWritable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    // Shuts down sending, then closes; never raises.
    void Disconnect(TIdStackSocketHandle socket) noexcept;
    void SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value);
    void GetSocketName(TIdStackSocketHandle socket, std::string& ip, int32_t& port);
    void GetPeerName(TIdStackSocketHandle socket, std::string& ip, int32_t& port);

    // Exactly four decimal parts of 0..255 separated by "."; leading zeros allowed.
    static bool IsIPv4Address(std::string_view text) noexcept;
    // "127.0.0.1" for LOCALHOST in any case, a dotted address unchanged, else a lookup on a thread
    // of its own while this waits at most `timeoutMs` (negative: no limit): EIdConnectTimeout when
    // the time runs out first (a lookup is a connect's first step), and EIdCancelled once `cancel`
    // is raised. A lookup given up on finishes on its own; this code then stays loaded for good.
    std::string ResolveHost(const std::string& host, TIdIPVersion ipVersion, int32_t timeoutMs = -1,
                            const TIdCancelSignal* cancel = nullptr);
    // Dotted text to network-order address: each of the first four parts converted as an integer
    // (EConvertError when one is not) and kept as one byte.
    static uint32_t DottedToAddress(std::string_view text);
    static std::string AddressToDotted(uint32_t networkOrder);

    // The result unchanged, or the system's last socket error (EIdNotASocket for 10038) when it is
    // -1.
    static int64_t CheckSocketResult(int64_t result);

private:
    // On Windows these start and end this process's use of Winsock (never from DllMain).
    TIdStack();
    ~TIdStack();

    std::string FHostName;
};

}  // namespace zel
