#include "net/IdSocketHandle.h"

#include "net/IdException.h"

namespace zel {

namespace {
TIdStack& Stack() noexcept { return *TIdStack::Instance(); }
}  // namespace

TIdSocketHandle::TIdSocketHandle() { TIdStack::IncUsage(); }

TIdSocketHandle::~TIdSocketHandle() {
    CloseSocket();
    TIdStack::DecUsage();
}

void TIdSocketHandle::AllocateSocket(int socketType, int protocol) {
    CloseSocket();
    FHandle = Stack().NewSocketHandle(socketType, protocol, FIPVersion);
}

void TIdSocketHandle::Bind() {
    try {
        Stack().Bind(FHandle, IP, Port, FIPVersion);
        Stack().GetSocketName(FHandle, IP, Port);
    } catch (const EIdException&) {
        throw EIdCouldNotBindSocket();
    } catch (const EConvertError&) {
        throw EIdCouldNotBindSocket();
    }
}

void TIdSocketHandle::SetPeer(const std::string& ip, int32_t port) {
    FPeerIP = ip;
    FPeerPort = port;
}

void TIdSocketHandle::Connect() {
    Stack().Connect(FHandle, FPeerIP, FPeerPort, FIPVersion);
    ReadNames();
}

bool TIdSocketHandle::ConnectWithTimeout(int32_t timeoutMs, const TIdCancelSignal* cancel) {
    if (!Stack().ConnectWithTimeout(FHandle, FPeerIP, FPeerPort, FIPVersion, timeoutMs, cancel)) return false;
    ReadNames();
    return true;
}

void TIdSocketHandle::ReadNames() {
    Stack().GetSocketName(FHandle, IP, Port);
    Stack().GetPeerName(FHandle, FPeerIP, FPeerPort);
}

int32_t TIdSocketHandle::Receive(char* buffer, int32_t length) { return Stack().Receive(FHandle, buffer, length); }

int32_t TIdSocketHandle::Send(const char* data, int32_t length, bool wait) {
    return Stack().Send(FHandle, data, length, wait);
}

bool TIdSocketHandle::WaitReadable(int32_t timeoutMs, const TIdCancelSignal* cancel) {
    if (!HandleAllocated()) throw EIdConnClosedGracefully();
    return Stack().WaitReadable(FHandle, timeoutMs, cancel);
}

bool TIdSocketHandle::WaitWritable(int32_t timeoutMs, const TIdCancelSignal* cancel) {
    if (!HandleAllocated()) throw EIdConnClosedGracefully();
    return Stack().WaitWritable(FHandle, timeoutMs, cancel);
}

void TIdSocketHandle::CloseSocket() noexcept {
    if (!HandleAllocated()) return;
    TIdStackSocketHandle h = FHandle;
    FHandle = Id_INVALID_SOCKET;
    Stack().Disconnect(h);
}

void TIdSocketHandle::Reset(bool resetLocal) noexcept {
    FHandle = Id_INVALID_SOCKET;
    if (resetLocal) {
        IP.clear();
        Port = 0;
    }
    FPeerIP.clear();
    FPeerPort = 0;
    FIPVersion = Id_IPv4;
}

void TIdSocketHandle::SetSocketOption(int level, int option, int32_t value) {
    Stack().SetSocketOption(FHandle, level, option, value);
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion value) {
    if (value == FIPVersion) return;
    if (HandleAllocated()) throw EIdCannotSetIPVersionWhenConnected();
    FIPVersion = value;
}

}  // namespace zel
