// The socket stack's Winsock 2 part: the error numbers are Winsock's own, so no mapping is needed.
// The waits use select, which reports a failed non-blocking connect in its error set (WSAPoll misses
// that before Windows 10 version 2004); its limit of 64 handles per set is far above the two a
// wait watches.
#include "net/IdStack.h"

#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <type_traits>

#include "net/IdException.h"
#include "net/IdStackSystem.h"

namespace zel {

static_assert(std::is_same_v<TIdStackSocketHandle, SOCKET>);
static_assert(Id_INVALID_SOCKET == INVALID_SOCKET);

using detail::MakeAddress;
using detail::RaiseSocketError;
using detail::TReady;
using detail::WaitFor;

namespace {

constexpr WORD kWinsockVersion = 0x0202;  // 2.2
// FIONBIO is an unsigned value that ioctlsocket takes as a long.
constexpr long kSetNonBlocking = static_cast<long>(FIONBIO);
// socket() makes overlapped sockets; ours are also kept from child processes, as close-on-exec does
// on POSIX.
constexpr DWORD kSocketFlags = WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT;

[[noreturn]] void RaiseLastError() { RaiseSocketError(::WSAGetLastError()); }

// Winsock counts bytes in int.
int Length(int32_t length) noexcept { return std::max(length, 0); }

// A new IPv4 socket of `type`, not inheritable.
SOCKET NewSocket(int type, int protocol) {
    const SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0, kSocketFlags);
    if (s == INVALID_SOCKET) RaiseLastError();
    return s;
}

// Windows' fd_set is a counted array of handles, filled here directly: FD_SET's casts would not
// pass our warnings.
fd_set SetOf(std::initializer_list<SOCKET> sockets) noexcept {
    fd_set set{};
    for (SOCKET s : sockets)
        if (s != INVALID_SOCKET) set.fd_array[set.fd_count++] = s;
    return set;
}

bool InSet(const fd_set& set, SOCKET socket) noexcept {
    return std::find(set.fd_array, set.fd_array + set.fd_count, socket) != set.fd_array + set.fd_count;
}

// The outcome of a connect that is under way: raises its error, if any.
void CheckPendingConnect(SOCKET socket) {
    int err = 0;
    int len = sizeof err;
    TIdStack::CheckSocketResult(::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len));
    if (err != 0) RaiseSocketError(err);
}

void SetBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    TIdStack::CheckSocketResult(::ioctlsocket(socket, kSetNonBlocking, &nonBlocking));
}

// Non-blocking mode for one call: Winsock has no per-call flag like MSG_DONTWAIT, and our sockets
// are otherwise blocking.
class TNonBlocking {
public:
    explicit TNonBlocking(SOCKET socket) : FSocket(socket) { SetBlocking(socket, false); }
    ~TNonBlocking() {
        u_long nonBlocking = 0;
        // Fails only for a socket that is gone, which the call itself has already reported.
        ::ioctlsocket(FSocket, kSetNonBlocking, &nonBlocking);
    }
    TNonBlocking(const TNonBlocking&) = delete;
    TNonBlocking& operator=(const TNonBlocking&) = delete;

private:
    SOCKET FSocket;
};

// One send or receive, without waiting when `now`: its count, or kWouldBlock when it would wait.
template <class TCall>
int32_t Transfer(SOCKET socket, bool now, TCall call) {
    std::optional<TNonBlocking> nonBlocking;
    if (now) nonBlocking.emplace(socket);
    const int n = call();
    if (n != SOCKET_ERROR) return n;
    const int err = ::WSAGetLastError();
    if (now && err == WSAEWOULDBLOCK) return TIdStack::kWouldBlock;
    RaiseSocketError(err);
}

}  // namespace

namespace detail {

bool WaitFor(TIdStackSocketHandle socket, TReady ready, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    if (cancel && cancel->Cancelled()) throw EIdCancelled();
    const SOCKET signal = cancel ? cancel->Handle() : INVALID_SOCKET;
    const bool read = ready == TReady::Read;
    fd_set reads = SetOf({read ? socket : INVALID_SOCKET, signal});
    fd_set writes = SetOf({read ? INVALID_SOCKET : socket});
    // A closed or reset connection shows as readable, a failed connect only in the error set. Reads
    // leave that set out: urgent data would show there without anything to read, and the read
    // loops would spin on it.
    fd_set errors = SetOf({read ? INVALID_SOCKET : socket});
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = timeoutMs % 1000 * 1000;
    const int r = ::select(0, &reads, &writes, &errors, timeoutMs < 0 ? nullptr : &limit);
    if (r == SOCKET_ERROR) RaiseLastError();
    if (r == 0) return false;
    if (signal != INVALID_SOCKET && InSet(reads, signal)) throw EIdCancelled();
    return true;
}

void KeepCodeLoaded() noexcept {
    static std::once_flag once;
    static const char anchor = 0;
    std::call_once(once, [] {
        HMODULE self = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                             reinterpret_cast<LPCWSTR>(&anchor), &self);
    });
}

}  // namespace detail

int32_t SocketErrorFromLookup(int lookupResult, int) noexcept { return lookupResult; }

// --- cancel signal ---

// A UDP socket on 127.0.0.1 connected to itself: Cancel sends it one datagram, which leaves it
// readable for good. Connected, it takes datagrams from itself only, so no other local program can
// raise it.
TIdCancelSignal::TIdCancelSignal() : FHandle(Id_INVALID_SOCKET) {
    TIdStack::IncUsage();
    try {
        FHandle = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in addr = MakeAddress("127.0.0.1", 0, Id_IPv4);
        int len = sizeof addr;
        auto* name = reinterpret_cast<sockaddr*>(&addr);
        TIdStack::CheckSocketResult(::bind(FHandle, name, len));
        TIdStack::CheckSocketResult(::getsockname(FHandle, name, &len));
        TIdStack::CheckSocketResult(::connect(FHandle, name, len));
    } catch (...) {
        if (FHandle != Id_INVALID_SOCKET) ::closesocket(FHandle);
        TIdStack::DecUsage();
        throw;
    }
}

TIdCancelSignal::~TIdCancelSignal() {
    ::closesocket(FHandle);
    TIdStack::DecUsage();
}

void TIdCancelSignal::Cancel() noexcept {
    if (FCancelled.exchange(true, std::memory_order_acq_rel)) return;
    const char one = 1;
    ::send(FHandle, &one, 1, 0);  // cannot fail: one datagram into an empty loopback queue
}

// --- lifetime ---

TIdStack::TIdStack() {
    WSADATA data{};
    if (::WSAStartup(kWinsockVersion, &data) != 0) throw EIdStackInitializationFailed();
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) FHostName = name;
}

TIdStack::~TIdStack() { ::WSACleanup(); }

// --- socket calls ---

int64_t TIdStack::CheckSocketResult(int64_t result) {
    if (result == SOCKET_ERROR) RaiseLastError();
    return result;
}

TIdStackSocketHandle TIdStack::NewSocketHandle(int socketType, int protocol, TIdIPVersion ipVersion) {
    if (ipVersion != Id_IPv4) throw EIdIPVersionUnsupported();
    return NewSocket(socketType, protocol);
}

void TIdStack::Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    CheckSocketResult(::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

bool TIdStack::ConnectWithTimeout(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                                  TIdIPVersion ipVersion, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    SetBlocking(socket, false);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) RaiseLastError();
        if (!WaitFor(socket, TReady::Write, timeoutMs, cancel)) return false;
        CheckPendingConnect(socket);
    }
    SetBlocking(socket, true);
    return true;
}

int32_t TIdStack::Receive(TIdStackSocketHandle socket, char* buffer, int32_t length) {
    return Transfer(socket, true, [&] { return ::recv(socket, buffer, Length(length), 0); });
}

int32_t TIdStack::Send(TIdStackSocketHandle socket, const char* data, int32_t length, bool wait) {
    return Transfer(socket, !wait, [&] { return ::send(socket, data, Length(length), 0); });
}

void TIdStack::Disconnect(TIdStackSocketHandle socket) noexcept {
    ::shutdown(socket, SD_SEND);
    ::closesocket(socket);
}

}  // namespace zel
