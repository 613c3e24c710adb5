#pragma once
// A TCP connection: an I/O handler (assigned, or created by the client on first Connect) that does
// all reading and writing, and the disconnect that closes it.
#include <functional>

#include "net/IdComponent.h"
#include "net/IdIOHandler.h"
#include "net/IdIOHandlerSocket.h"

namespace zel {

class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection() = default;
    // Closes the handler's socket, and frees the handler when this connection created it.
    ~TIdTCPConnection() override;

    TIdIOHandler* IOHandler() const noexcept { return FIOHandler; }
    // The handler when it is a socket handler, else null.
    TIdIOHandlerSocket* Socket() const noexcept { return FSocket; }
    // Uses `handler` (null: none) from now on; the caller keeps ownership. A handler this
    // connection created is freed. The connection forgets a handler that is destroyed.
    virtual void SetIOHandler(TIdIOHandler* handler);

    // A handler exists and reports connected (which also notices a peer's close).
    bool IsConnected();
    // The handler's disconnect check; without a handler, EIdException "Not Connected" when asked
    // to raise.
    void CheckGracefulDisconnect(bool raiseIfDisconnected = true);
    // Closes an opened handler, with the statuses and OnDisconnected around it.
    void Disconnect(bool notifyPeer = true);

    std::function<void(TIdTCPConnection&)> OnDisconnected;

protected:
    // Makes `handler` this connection's own: it is freed with the connection or when replaced.
    void AdoptIOHandler(TIdIOHandler* handler);

private:
    friend class TIdIOHandler;
    void IOHandlerDestroyed(TIdIOHandler* handler) noexcept;

    TIdIOHandler* FIOHandler = nullptr;
    TIdIOHandlerSocket* FSocket = nullptr;
    bool FOwnsIOHandler = false;
};

}  // namespace zel
