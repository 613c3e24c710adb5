// What the socket stack does the same on every system: the error table and its texts, the
// stack's use count, and the dotted-address helpers. The system calls live in IdStackPosix.cpp and
// IdStackWin32.cpp.
#include "net/IdStack.h"

#include <cerrno>
#include <cstring>
#include <mutex>

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

}  // namespace

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

// --- addresses ---

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
