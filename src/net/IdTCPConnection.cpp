#include "net/IdTCPConnection.h"

#include "net/IdException.h"

namespace zel {

TIdTCPConnection::~TIdTCPConnection() {
    if (FIOHandler) FIOHandler->Close();
    SetIOHandler(nullptr);
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
    if (handler == FIOHandler) return;
    // A handler serves one connection: taking it over detaches it from the one it had.
    if (handler && handler->FConnection) handler->FConnection->SetIOHandler(nullptr);
    TIdIOHandler* old = FIOHandler;
    const bool ownedOld = FOwnsIOHandler;
    FIOHandler = handler;
    FSocket = dynamic_cast<TIdIOHandlerSocket*>(handler);
    FOwnsIOHandler = false;
    if (old) {
        old->FConnection = nullptr;
        old->SetWorkTarget(nullptr);
        if (ownedOld) delete old;
    }
    if (handler) {
        handler->FConnection = this;
        handler->SetWorkTarget(this);
    }
}

void TIdTCPConnection::AdoptIOHandler(TIdIOHandler* handler) {
    SetIOHandler(handler);
    FOwnsIOHandler = handler != nullptr;
}

void TIdTCPConnection::IOHandlerDestroyed(TIdIOHandler* handler) noexcept {
    if (handler != FIOHandler) return;
    FIOHandler = nullptr;
    FSocket = nullptr;
    FOwnsIOHandler = false;
}

bool TIdTCPConnection::IsConnected() { return FIOHandler && FIOHandler->IsConnected(); }

void TIdTCPConnection::CheckGracefulDisconnect(bool raiseIfDisconnected) {
    if (FIOHandler)
        FIOHandler->CheckDisconnect(raiseIfDisconnected, false);
    else if (raiseIfDisconnected)
        throw EIdException("Not Connected");
}

// Telling the peer is a protocol's step; HTTP has none, so only closing the handler remains.
void TIdTCPConnection::Disconnect(bool /*notifyPeer*/) {
    if (!FIOHandler || !FIOHandler->Opened()) return;
    DoStatus(hsDisconnecting);
    FIOHandler->Close();
    if (OnDisconnected) OnDisconnected(*this);
    DoStatus(hsDisconnected);
}

}  // namespace zel
