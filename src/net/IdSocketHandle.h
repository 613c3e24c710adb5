#pragma once
// One operating-system socket with its local and peer address. The handle holds one use of the
// socket stack, so the stack outlives every socket.
#include <cstdint>
#include <string>

#include "net/IdStack.h"

namespace zel {

class TIdSocketHandle {
public:
    TIdSocketHandle();
    ~TIdSocketHandle();  // closes the socket
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Closes any socket first, then opens a new one for IPVersion.
    void AllocateSocket(int socketType, int protocol = 0);
    // Binds to IP and Port (port 0: the system chooses) and reads back the local name.
    // EIdCouldNotBindSocket on any failure.
    void Bind();
    void SetPeer(const std::string& ip, int32_t port);
    // Blocking connect to the peer; then both names are read back.
    void Connect();
    // Connects to the peer within `timeoutMs`: false when the time ran out first. EIdCancelled
    // once `cancel` is raised.
    bool ConnectWithTimeout(int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    // What is waiting now, without blocking: the count, 0 when the peer closed, or
    // TIdStack::kWouldBlock.
    int32_t Receive(char* buffer, int32_t length);
    // The count the system took, which may be less than `length`; without `wait`,
    // TIdStack::kWouldBlock when it can take nothing now.
    int32_t Send(const char* data, int32_t length, bool wait = true);
    // Readable (data, or the peer's close) within `timeoutMs`; EIdConnClosedGracefully without a
    // socket, EIdCancelled once `cancel` is raised.
    bool WaitReadable(int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    bool WaitWritable(int32_t timeoutMs, const TIdCancelSignal* cancel = nullptr);
    // Shuts down sending and closes; never raises, harmless when there is no socket.
    void CloseSocket() noexcept;
    // Forgets the socket without closing it; with `resetLocal` also the local address.
    void Reset(bool resetLocal = true) noexcept;
    void SetSocketOption(int level, int option, int32_t value);

    bool HandleAllocated() const noexcept { return FHandle != Id_INVALID_SOCKET; }
    TIdStackSocketHandle Handle() const noexcept { return FHandle; }

    TIdIPVersion IPVersion() const noexcept { return FIPVersion; }
    // EIdCannotSetIPVersionWhenConnected while a socket is open.
    void SetIPVersion(TIdIPVersion value);

    std::string IP;  // local address
    int32_t Port = 0;  // local port
    const std::string& PeerIP() const noexcept { return FPeerIP; }
    int32_t PeerPort() const noexcept { return FPeerPort; }

private:
    void ReadNames();

    TIdStackSocketHandle FHandle = Id_INVALID_SOCKET;
    TIdIPVersion FIPVersion = Id_IPv4;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
};

}  // namespace zel
