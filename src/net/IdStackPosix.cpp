// The socket stack's POSIX part: errno values become the Windows socket error numbers of the shared
// table, the waits use poll, and the cancel signal is an eventfd.
#include "net/IdStack.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "net/IdException.h"
#include "net/IdStackSystem.h"

namespace zel {

using detail::MakeAddress;
using detail::RaiseSocketError;
using detail::TReady;
using detail::WaitFor;

namespace detail {

// poll: no limit on descriptor numbers. An interrupted wait goes on with the time that remains.
bool WaitFor(TIdStackSocketHandle socket, TReady ready, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    const short events = ready == TReady::Read ? POLLIN : POLLOUT;
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
            return p[0].revents != 0;
        }
        if (r == 0) return false;
        if (errno != EINTR) TIdStack::CheckSocketResult(-1);
    }
}

void KeepCodeLoaded() noexcept {
    static std::once_flag once;
    static const char anchor = 0;
    std::call_once(once, [] {
        Dl_info info{};
        if (::dladdr(&anchor, &info) != 0 && info.dli_fname)
            ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

}  // namespace detail

namespace {

// The outcome of a connect that is under way: raises its error, if any.
void CheckPendingConnect(TIdStackSocketHandle socket) {
    int err = 0;
    socklen_t len = sizeof err;
    TIdStack::CheckSocketResult(::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len));
    if (err != 0) RaiseSocketError(SocketErrorFromErrno(err));
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

void TIdStack::Connect(TIdStackSocketHandle socket, const std::string& ip, int32_t port, TIdIPVersion ipVersion) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return;
    if (errno != EINTR) CheckSocketResult(-1);
    // An interrupted connect goes on in the system; wait for its outcome instead of failing.
    WaitFor(socket, TReady::Write, -1, nullptr);
    CheckPendingConnect(socket);
}

bool TIdStack::ConnectWithTimeout(TIdStackSocketHandle socket, const std::string& ip, int32_t port,
                                  TIdIPVersion ipVersion, int32_t timeoutMs, const TIdCancelSignal* cancel) {
    sockaddr_in addr = MakeAddress(ip, port, ipVersion);
    const int flags = static_cast<int>(CheckSocketResult(::fcntl(socket, F_GETFL)));
    CheckSocketResult(::fcntl(socket, F_SETFL, flags | O_NONBLOCK));
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) CheckSocketResult(-1);
        if (!WaitFor(socket, TReady::Write, timeoutMs, cancel)) return false;
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

void TIdStack::Disconnect(TIdStackSocketHandle socket) noexcept {
    ::shutdown(socket, SHUT_WR);
    ::close(socket);
}

}  // namespace zel
