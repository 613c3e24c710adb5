#include "net/IdIOHandlerStack.h"

#include <algorithm>

#include "net/IdException.h"
#include "net/IdSocketHeaders.h"

namespace zel {

bool TIdIOHandlerStack::IsConnected() {
    FillInputBuffer(false, 0, false);
    return TIdIOHandlerSocket::IsConnected();
}

int32_t TIdIOHandlerStack::FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) {
    if (timeout == IdTimeoutDefault) timeout = ReadTimeout != 0 ? ReadTimeout : IdTimeoutInfinite;
    CheckDisconnect(raiseIfDisconnected, false);
    if (!BindingAllocated()) {
        if (raiseIfDisconnected) throw EIdException("Not Connected");
        return 0;
    }
    int64_t deadline = timeout >= 0 ? MonotonicMs() + timeout : -1;
    // The overall deadline shortens every wait (a mere poll, time-out 0, never waits).
    const bool byDeadline = Deadline > 0 && timeout != 0 && (deadline < 0 || Deadline < deadline);
    if (byDeadline) deadline = Deadline;
    int32_t n;
    do {
        n = 0;
        int32_t wait = timeout;
        if (deadline >= 0) wait = static_cast<int32_t>(std::max<int64_t>(0, deadline - MonotonicMs()));
        if (!FBinding->WaitReadable(wait, Cancel)) {
            if (raiseOnTimeout || byDeadline) throw EIdReadTimeout();
            return -1;
        }
        std::string bytes(static_cast<size_t>(std::max(RecvBufferSize, 1)), '\0');
        int32_t received = FBinding->Receive(bytes.data(), static_cast<int32_t>(bytes.size()));
        // Readable but nothing to take after all: wait again with the time that is left.
        if (received == TIdStack::kWouldBlock) continue;
        n = received;
        if (n > 0) {
            bytes.resize(static_cast<size_t>(n));
            FInputBuffer->Adopt(std::move(bytes));
        }
        FClosedGracefully = n == 0;
        CheckDisconnect(raiseIfDisconnected, false);
    } while (n == 0 && BindingAllocated());
    return n;
}

void TIdIOHandlerStack::DirectSend(std::string_view bytes) {
    CheckDisconnect(true, true);
    if (!BindingAllocated()) throw EIdNotConnected();
    size_t sent = 0;
    do {
        const size_t length = std::min<size_t>(bytes.size() - sent, INT32_MAX);
        int32_t n;
        if (Deadline > 0 || Cancel) {
            // Bounded or cancellable: wait until the system can take bytes, then send only what it
            // takes now.
            auto remaining = Deadline > 0 ? static_cast<int32_t>(std::clamp<int64_t>(Deadline - MonotonicMs(), 0, INT32_MAX))
                                          : IdTimeoutInfinite;
            if (!FBinding->WaitWritable(remaining, Cancel)) throw EIdReadTimeout();
            n = FBinding->Send(bytes.data() + sent, static_cast<int32_t>(length), false);
            if (n == TIdStack::kWouldBlock) continue;
        } else {
            n = FBinding->Send(bytes.data() + sent, static_cast<int32_t>(length));
        }
        FClosedGracefully = n == 0;
        CheckDisconnect(true, false);
        DoWork(wmWrite, n);
        sent += static_cast<size_t>(n);
    } while (sent < bytes.size());
}

void TIdIOHandlerStack::ConnectSocket() {
    // Checked before any socket call: a port beyond 16 bits would otherwise be truncated silently.
    if (Port < 1 || Port > 65535) throw EIdException("Invalid port " + std::to_string(Port) + ".");
    if (OnBeforeBind) OnBeforeBind(*this);
    FBinding->SetIPVersion(IPVersion);
    FBinding->AllocateSocket(SOCK_STREAM, 0);
    if (!BoundIP.empty()) FBinding->IP = BoundIP;
    FBinding->Port = BoundPort;
    FBinding->Bind();
    FBinding->SetSocketOption(IPPROTO_TCP, TCP_NODELAY, UseNagle ? 0 : 1);
    if (OnAfterBind) OnAfterBind(*this);

    // The lookup and the connect share one time-out: a connect's time counts from its start.
    const int64_t start = MonotonicMs();
    int64_t end = ConnectTimeout > 0 ? start + ConnectTimeout : 0;
    if (Deadline > 0 && (end == 0 || Deadline < end)) end = Deadline;
    auto remaining = [&] { return static_cast<int32_t>(std::clamp<int64_t>(end - MonotonicMs(), 1, INT32_MAX)); };
    std::string address = Host;
    if (!TIdStack::IsIPv4Address(address)) {
        DoStatus(hsResolving, Host);
        address = TIdStack::Instance()->ResolveHost(Host, IPVersion, end > 0 ? remaining() : -1, Cancel);
    }
    FBinding->SetPeer(address, Port);
    DoStatus(hsConnecting, address);
    // A plain blocking connect only without any bound and without a cancel signal to watch.
    if (end == 0 && !Cancel)
        FBinding->Connect();
    else
        ConnectWithTimeout(end > 0 ? remaining() : -1);
}

// A non-blocking connect polled until the deadline replaces a blocking connect on a worker thread:
// the attempt really ends at the time-out, and no thread or socket is left behind.
void TIdIOHandlerStack::ConnectWithTimeout(int32_t timeout) {
    if (FBinding->ConnectWithTimeout(timeout < 0 ? -1 : timeout, Cancel)) return;
    Close();
    throw EIdConnectTimeout();
}

}  // namespace zel
