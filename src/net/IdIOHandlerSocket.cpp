#include "net/IdIOHandlerSocket.h"

#include "net/IdException.h"

namespace zel {

TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

void TIdIOHandlerSocket::Open() {
    TIdIOHandler::Open();
    if (!FBinding) {
        FBinding = std::make_unique<TIdSocketHandle>();
    } else {
        FBinding->CloseSocket();  // a socket left open is closed, not leaked, by the reset
        FBinding->Reset(true);
    }
    // Port 0 means "no socket", as an empty host does; other ports are checked by ConnectSocket.
    if (Host.empty() || Port == 0) return;
    try {
        ConnectSocket();
    } catch (...) {
        FBinding->CloseSocket();  // a failed attempt leaves no socket behind, client or not
        throw;
    }
}

void TIdIOHandlerSocket::Close() noexcept {
    if (FBinding) FBinding->CloseSocket();
    TIdIOHandler::Close();
}

void TIdIOHandlerSocket::CheckDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
    bool disconnected;
    if (FClosedGracefully) {
        if (BindingAllocated()) {
            Close();
            DoStatus(hsDisconnected);
        }
        disconnected = true;
    } else {
        disconnected = !BindingAllocated();
    }
    if (disconnected && FInputBuffer && (FInputBuffer->Size() == 0 || ignoreBuffer) && raiseIfDisconnected)
        throw EIdConnClosedGracefully();
}

bool TIdIOHandlerSocket::IsConnected() {
    return (BindingAllocated() && TIdIOHandler::IsConnected()) || !InputBufferEmpty();
}

}  // namespace zel
