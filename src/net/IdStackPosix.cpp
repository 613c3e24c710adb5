// The socket stack on the POSIX socket calls: errno values become the Windows socket error numbers
// of the shared table.
#include "net/IdStack.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "net/IdException.h"
#include "platform/TextUtils.h"

namespace zel {

namespace {

// A socket address for a dotted IPv4 text and port; other IP versions are not supported.
sockaddr_in MakeAddress(const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    if (ipVersion != Id_IPv4) throw EIdIPVersionUnsupported();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : TIdStack::DottedToAddress(ip);
    return addr;
}

[[noreturn]] void RaiseSocketError(int32_t code) {
    if (code == Id_WSAENOTSOCK) throw EIdNotASocket();
    throw EIdSocketError(code);
}

// Waits for `events` on one socket for at most `timeoutMs` (negative: no limit); an interrupted
// wait goes on with the time that remains. Returns the events seen, 0 when the time ran out;
// EIdCancelled once `cancel` is raised, also when the socket is ready as well.
short PollOne(TIdStackSocketHandle socket, short events, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    for (;;) {
        if (cancel && cancel->Cancelled()) throw EIdCancelled();
        int wait = -1;
        if (deadline >= 0) wait = static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
        // poll skips the negative descriptor of an absent signal.
        pollfd p[2] = {{socket, events, 0}, {cancel ? cancel->Handle() : -1, POLLIN, 0}};
        int r = ::poll(p, 2, wait);
        if (r > 0) {
            if (p[1].revents != 0) throw EIdCancelled();
            if (p[0].revents & POLLNVAL) RaiseSocketError(Id_WSAENOTSOCK);
            return p[0].revents;
        }
        if (r == 0) return 0;
        if (errno != EINTR) TIdStack::CheckSocketResult(-1);
    }
}

// The outcome of a connect that is under way: raises its error, if any.
void CheckPendingConnect(TIdStackSocketHandle socket) {
    int err = 0;
    socklen_t len = sizeof err;
    TIdStack::CheckSocketResult(::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len));
    if (err != 0) RaiseSocketError(SocketErrorFromErrno(err));
}

void ReadName(int result, const sockaddr_storage& storage, std::string& ip, int32_t& port) {
    TIdStack::CheckSocketResult(result);
    if (storage.ss_family != AF_INET) throw EIdIPVersionUnsupported();
    const auto& addr = reinterpret_cast<const sockaddr_in&>(storage);
    ip = TIdStack::AddressToDotted(addr.sin_addr.s_addr);
    port = ntohs(addr.sin_port);
}

// One name lookup on a thread of its own, so that its caller can stop waiting for it. The thread
// fills in the outcome under the lock, then makes Done readable.
struct TLookup {
    explicit TLookup(std::string name)
        : Name(std::move(name)),
          Done(static_cast<TIdStackSocketHandle>(TIdStack::CheckSocketResult(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)))) {}
    ~TLookup() { ::close(Done); }
    TLookup(const TLookup&) = delete;
    TLookup& operator=(const TLookup&) = delete;

    void Run() noexcept {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = ::getaddrinfo(Name.c_str(), nullptr, &hints, &found);
        const int err = errno;
        {
            std::lock_guard<std::mutex> lock(Lock);
            Result = r != 0 || !found ? (r != 0 ? r : EAI_NONAME) : 0;
            Error = err;
            if (Result == 0) Address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        }
        if (found) ::freeaddrinfo(found);
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(Done, &one, sizeof one);
    }

    const std::string Name;
    const TIdStackSocketHandle Done;
    std::mutex Lock;
    int Result = 0;
    int Error = 0;
    uint32_t Address = 0;
};

// A lookup given up on goes on in its thread, inside this library's code: the library must stay
// loaded until the process ends, also when the host unloads the module it is part of.
void KeepCodeLoaded() noexcept {
    static std::once_flag once;
    static const char anchor = 0;
    std::call_once(once, [] {
        Dl_info info{};
        if (::dladdr(&anchor, &info) != 0 && info.dli_fname)
            ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

}  // namespace

int32_t SocketErrorFromLookup(int lookupResult, int err) noexcept {
    switch (lookupResult) {
        case EAI_NONAME: return Id_WSAHOST_NOT_FOUND;
        case EAI_AGAIN: return Id_WSATRY_AGAIN;
        case EAI_NODATA: case EAI_ADDRFAMILY: return 11004;  // a name without an address
        case EAI_MEMORY: return 10055;
        case EAI_FAMILY: return 10047;
        case EAI_SYSTEM: return SocketErrorFromErrno(err);
        default: return 11003;  // a failure the lookup cannot recover from
    }
}

// --- cancel signal ---

TIdCancelSignal::TIdCancelSignal()
    : FHandle(static_cast<TIdStackSocketHandle>(TIdStack::CheckSocketResult(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)))) {}

TIdCancelSignal::~TIdCancelSignal() { ::close(FHandle); }

void TIdCancelSignal::Cancel() noexcept {
    if (FCancelled.exchange(true, std::memory_order_acq_rel)) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FHandle, &one, sizeof one);  // cannot fail: counter far from full
}

// --- lifetime ---

TIdStack::TIdStack() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) FHostName = name;
}

TIdStack::~TIdStack() = default;

// --- socket calls ---

int64_t TIdStack::CheckSocketResult(int64_t result) {
    if (result == -1) RaiseSocketError(SocketErrorFromErrno(errno));
    return result;
}

TIdStackSocketHandle TIdStack::NewSocketHandle(int socketType, int protocol, TIdIPVersion ipVersion) {
    if (ipVersion != Id_IPv4) throw EIdIPVersionUnsupported();
    return static_cast<TIdStackSocketHandle>(CheckSocketResult(::socket(AF_INET, socketType | SOCK_CLOEXEC, protocol)));
}

void TIdStack::Bind(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    CheckSocketResult(::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

void TIdStack::Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return;
    if (errno != EINTR) CheckSocketResult(-1);
    // An interrupted connect goes on in the system; wait for its outcome instead of failing.
    PollOne(socket, POLLOUT, -1, nullptr);
    CheckPendingConnect(socket);
}

bool TIdStack::ConnectWithTimeout(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                                  TIdIPVersion ipVersion, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    const int flags = static_cast<int>(CheckSocketResult(::fcntl(socket, F_GETFL)));
    CheckSocketResult(::fcntl(socket, F_SETFL, flags | O_NONBLOCK));
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) CheckSocketResult(-1);
        if (PollOne(socket, POLLOUT, timeoutMs, cancel) == 0) return false;
        CheckPendingConnect(socket);
    }
    CheckSocketResult(::fcntl(socket, F_SETFL, flags));
    return true;
}

int32_t TIdStack::Receive(TIdStackSocketHandle socket, char* buffer, int32_t length) {
    for (;;) {
        ssize_t n = ::recv(socket, buffer, static_cast<size_t>(std::max(length, 0)), MSG_DONTWAIT);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EAGAIN) return kWouldBlock;
        if (errno != EINTR) CheckSocketResult(-1);
    }
}

int32_t TIdStack::Send(TIdStackSocketHandle socket, const char* data, int32_t length, bool wait) {
    const int flags = MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT);
    for (;;) {
        ssize_t n = ::send(socket, data, static_cast<size_t>(std::max(length, 0)), flags);
        if (n >= 0) return static_cast<int32_t>(n);
        if (!wait && errno == EAGAIN) return kWouldBlock;
        if (errno != EINTR) CheckSocketResult(-1);
    }
}

bool TIdStack::WaitReadable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    return PollOne(socket, POLLIN, timeoutMs == IdTimeoutInfinite ? -1 : std::max(timeoutMs, 0), cancel) != 0;
}

bool TIdStack::WaitWritable(TIdStackSocketHandle socket, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    return PollOne(socket, POLLOUT, timeoutMs == IdTimeoutInfinite ? -1 : std::max(timeoutMs, 0), cancel) != 0;
}

void TIdStack::Disconnect(TIdStackSocketHandle socket) noexcept {
    ::shutdown(socket, SHUT_WR);
    ::close(socket);
}

void TIdStack::SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) {
    CheckSocketResult(::setsockopt(socket, level, option, &value, sizeof value));
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
    short ready = 0;
    try {
        ready = PollOne(lookup->Done, POLLIN, timeoutMs, cancel);
    } catch (...) {
        KeepCodeLoaded();
        worker.detach();
        throw;
    }
    if (ready == 0) {
        KeepCodeLoaded();
        worker.detach();
        throw EIdConnectTimeout();
    }
    worker.join();
    std::lock_guard<std::mutex> lock(lookup->Lock);
    if (lookup->Result != 0) throw EIdSocketError(SocketErrorFromLookup(lookup->Result, lookup->Error));
    return AddressToDotted(lookup->Address);
}

}  // namespace zel
