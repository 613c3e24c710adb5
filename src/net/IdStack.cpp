// What the socket stack does the same on every system: the error table and its texts, the
// stack's use count, the dotted-address helpers, the calls that read alike on both socket APIs, and
// the name lookup. What differs (the waits, the cancel signal, non-blocking mode, errors) lives in
// IdStackPosix.cpp and IdStackWin32.cpp.
#include "net/IdStack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/IdException.h"
#include "net/IdStackSystem.h"
#include "platform/TextUtils.h"

namespace zel {

namespace {

// One row per Windows socket error: its number, its text, and on POSIX the errno values (up to
// two; an unused place is 0) that stand for it there. Winsock reports the numbers themselves.
struct TSocketError {
    int32_t Number;
    const char* Text;
#ifndef _WIN32
    int Errno[2];
#endif
};

#ifdef _WIN32
#define ZEL_ERRNO(...)
#else
#define ZEL_ERRNO(...) , {__VA_ARGS__}
#endif

constexpr TSocketError kSocketErrors[] = {
    {10004, "Interrupted system call." ZEL_ERRNO(EINTR)},
    {10009, "Bad file number." ZEL_ERRNO(EBADF)},
    {10013, "Access denied." ZEL_ERRNO(EACCES, EPERM)},
    {10014, "Buffer fault." ZEL_ERRNO(EFAULT)},
    {10022, "Invalid argument." ZEL_ERRNO(EINVAL)},
    {10024, "Too many open files." ZEL_ERRNO(EMFILE, ENFILE)},
    {10035, "Operation would block." ZEL_ERRNO(EAGAIN)},  // also EWOULDBLOCK: one value on Linux
    {10036, "Operation now in progress." ZEL_ERRNO(EINPROGRESS)},
    {10037, "Operation already in progress." ZEL_ERRNO(EALREADY)},
    {10038, "Socket operation on non-socket." ZEL_ERRNO(ENOTSOCK)},
    {10039, "Destination address required." ZEL_ERRNO(EDESTADDRREQ)},
    {10040, "Message too long." ZEL_ERRNO(EMSGSIZE)},
    {10041, "Protocol wrong type for socket." ZEL_ERRNO(EPROTOTYPE)},
    {10042, "Bad protocol option." ZEL_ERRNO(ENOPROTOOPT)},
    {10043, "Protocol not supported." ZEL_ERRNO(EPROTONOSUPPORT)},
    {10044, "Socket type not supported." ZEL_ERRNO(ESOCKTNOSUPPORT)},
    {10045, "Operation not supported on socket." ZEL_ERRNO(EOPNOTSUPP)},  // also ENOTSUP: one value on Linux
    {10046, "Protocol family not supported." ZEL_ERRNO(EPFNOSUPPORT)},
    {10047, "Address family not supported by protocol family." ZEL_ERRNO(EAFNOSUPPORT)},
    {10048, "Address already in use." ZEL_ERRNO(EADDRINUSE)},
    {10049, "Cannot assign requested address." ZEL_ERRNO(EADDRNOTAVAIL)},
    {10050, "Network is down." ZEL_ERRNO(ENETDOWN)},
    {10051, "Network is unreachable." ZEL_ERRNO(ENETUNREACH)},
    {10052, "Net dropped connection or reset." ZEL_ERRNO(ENETRESET)},
    {10053, "Software caused connection abort." ZEL_ERRNO(ECONNABORTED)},
    {10054, "Connection reset by peer." ZEL_ERRNO(ECONNRESET)},
    {10055, "No buffer space available." ZEL_ERRNO(ENOBUFS, ENOMEM)},
    {10056, "Socket is already connected." ZEL_ERRNO(EISCONN)},
    {10057, "Socket is not connected." ZEL_ERRNO(ENOTCONN)},
    {10058, "Cannot send or receive after socket is closed." ZEL_ERRNO(ESHUTDOWN, EPIPE)},
    {10059, "Too many references, cannot splice." ZEL_ERRNO(ETOOMANYREFS)},
    {10060, "Connection timed out." ZEL_ERRNO(ETIMEDOUT)},
    {10061, "Connection refused." ZEL_ERRNO(ECONNREFUSED)},
    {10062, "Too many levels of symbolic links." ZEL_ERRNO(ELOOP)},
    {10063, "File name too long." ZEL_ERRNO(ENAMETOOLONG)},
    {10064, "Host is down." ZEL_ERRNO(EHOSTDOWN)},
    {10065, "No route to host." ZEL_ERRNO(EHOSTUNREACH)},
    {10066, "Directory not empty" ZEL_ERRNO(ENOTEMPTY)},
};

#undef ZEL_ERRNO

std::mutex GStackLock;
TIdStack* GStack = nullptr;
int GStackUsers = 0;

// A decimal part of a dotted address: ASCII digits only, -1 for anything else or above 255.
int AddressPart(std::string_view part) noexcept {
    if (part.empty()) return -1;
    int value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
        if (value > 255) return -1;
    }
    return value;
}

void ReadName(int result, const sockaddr_storage& storage, std::string& ip, int32_t& port) {
    TIdStack::CheckSocketResult(result);
    if (storage.ss_family != AF_INET) throw EIdIPVersionUnsupported();
    const auto& addr = reinterpret_cast<const sockaddr_in&>(storage);
    ip = TIdStack::AddressToDotted(addr.sin_addr.s_addr);
    port = ntohs(addr.sin_port);
}

// One name lookup on a thread of its own, so that its caller can stop waiting for it. The thread
// fills in the outcome under the lock, then raises Done: a cancel signal is the one-shot event a
// wait can watch beside another. On Windows Done also holds a use of the stack, so Winsock stays
// started while a lookup given up on still runs.
struct TLookup {
    explicit TLookup(std::string name) : Name(std::move(name)) {}

    void Run() noexcept {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = ::getaddrinfo(Name.c_str(), nullptr, &hints, &found);
        const int err = errno;  // this thread's: read before anything else can change it
        {
            std::lock_guard<std::mutex> lock(Lock);
            Error = r != 0 ? SocketErrorFromLookup(r, err) : (found ? 0 : Id_WSAHOST_NOT_FOUND);
            if (Error == 0) Address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        }
        if (found) ::freeaddrinfo(found);
        Done.Cancel();
    }

    const std::string Name;
    TIdCancelSignal Done;
    std::mutex Lock;
    int32_t Error = 0;
    uint32_t Address = 0;
};

}  // namespace

namespace detail {

sockaddr_in MakeAddress(const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    if (ipVersion != Id_IPv4) throw EIdIPVersionUnsupported();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : TIdStack::DottedToAddress(ip);
    return addr;
}

void RaiseSocketError(int32_t code) {
    if (code == Id_WSAENOTSOCK) throw EIdNotASocket();
    throw EIdSocketError(code);
}

}  // namespace detail

using detail::MakeAddress;
using detail::TReady;
using detail::WaitFor;

std::string SocketErrorText(int32_t errorCode) {
    std::string text;
    for (const auto& e : kSocketErrors)
        if (e.Number == errorCode) text = e.Text;
    return "Socket Error # " + std::to_string(errorCode) + "\r\n" + text;
}

#ifndef _WIN32
int32_t SocketErrorFromErrno(int err) noexcept {
    if (err == 0) return 0;  // 0 fills the unused places of the table: no error matches it
    for (const auto& e : kSocketErrors)
        if (e.Errno[0] == err || e.Errno[1] == err) return e.Number;
    return err;
}

#endif

// --- lifetime ---

void TIdStack::IncUsage() {
    std::lock_guard<std::mutex> lock(GStackLock);
    if (GStackUsers == 0) GStack = new TIdStack();
    ++GStackUsers;
}

void TIdStack::DecUsage() noexcept {
    std::lock_guard<std::mutex> lock(GStackLock);
    if (GStackUsers > 0 && --GStackUsers == 0) {
        delete GStack;
        GStack = nullptr;
    }
}

TIdStack* TIdStack::Instance() noexcept {
    std::lock_guard<std::mutex> lock(GStackLock);
    return GStack;
}

// --- socket calls ---

void TIdStack::Bind(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    CheckSocketResult(::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

bool TIdStack::WaitReadable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    return WaitFor(socket, TReady::Read, timeoutMs == IdTimeoutInfinite ? -1 : std::max(timeoutMs, 0), cancel);
}

bool TIdStack::WaitWritable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    return WaitFor(socket, TReady::Write, timeoutMs == IdTimeoutInfinite ? -1 : std::max(timeoutMs, 0), cancel);
}

void TIdStack::SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) {
    // Winsock takes the value as char*; POSIX takes any pointer.
    CheckSocketResult(::setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof value));
}

void TIdStack::GetSocketName(TIdStackSocketHandle socket, std::string& ip, int32_t& port) {
    sockaddr_storage storage{};
    socklen_t len = sizeof storage;
    ReadName(::getsockname(socket, reinterpret_cast<sockaddr*>(&storage), &len), storage, ip, port);
}

void TIdStack::GetPeerName(TIdStackSocketHandle socket, std::string& ip, int32_t& port) {
    sockaddr_storage storage{};
    socklen_t len = sizeof storage;
    ReadName(::getpeername(socket, reinterpret_cast<sockaddr*>(&storage), &len), storage, ip, port);
}

// --- addresses ---

std::string TIdStack::ResolveHost(const std::string& host, TIdIPVersion ipVersion, int32_t timeoutMs,
                                  const TIdCancelSignal* cancel) {
    if (ipVersion != Id_IPv4) throw EIdIPVersionUnsupported();
    if (SameText(host, "LOCALHOST")) return "127.0.0.1";
    if (IsIPv4Address(host)) return host;
    auto lookup = std::make_shared<TLookup>(host);
    std::thread worker;
    try {
        worker = std::thread([lookup] { lookup->Run(); });
    } catch (const std::system_error&) {
        throw EIdSocketError(Id_WSATRY_AGAIN);  // no thread to look it up on now
    }
    try {
        if (!WaitFor(lookup->Done.Handle(), TReady::Read, timeoutMs, cancel)) throw EIdConnectTimeout();
    } catch (...) {
        // The lookup goes on without us, in this library's code.
        detail::KeepCodeLoaded();
        worker.detach();
        throw;
    }
    worker.join();
    std::lock_guard<std::mutex> lock(lookup->Lock);
    if (lookup->Error != 0) throw EIdSocketError(lookup->Error);
    return AddressToDotted(lookup->Address);
}

bool TIdStack::IsIPv4Address(std::string_view text) noexcept {
    for (int i = 0; i < 4; ++i) {
        size_t dot = text.find('.');
        if (i < 3 && dot == std::string_view::npos) return false;
        if (i == 3 && dot != std::string_view::npos) return false;
        if (AddressPart(text.substr(0, dot)) < 0) return false;
        text = i < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    return true;
}

uint32_t TIdStack::DottedToAddress(std::string_view text) {
    uint8_t bytes[4];
    for (uint8_t& b : bytes) {
        size_t dot = text.find('.');
        b = static_cast<uint8_t>(StrToInt(text.substr(0, dot)));
        text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    }
    uint32_t networkOrder;
    static_assert(sizeof networkOrder == sizeof bytes);
    std::memcpy(&networkOrder, bytes, sizeof bytes);
    return networkOrder;
}

std::string TIdStack::AddressToDotted(uint32_t networkOrder) {
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]);
}

}  // namespace zel
