#pragma once
// An I/O handler over one socket (the binding). The binding is created by the first Open and
// reset by every later one; Close closes its socket.
#include <functional>
#include <memory>
#include <string>

#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

namespace zel {

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    ~TIdIOHandlerSocket() override;

    bool UseNagle = true;
    TIdIPVersion IPVersion = Id_IPv4;
    std::string BoundIP;  // local address to bind to ("" = any)
    int32_t BoundPort = 0;  // local port (0 = chosen by the system)
    std::function<void(TIdIOHandlerSocket&)> OnBeforeBind;
    std::function<void(TIdIOHandlerSocket&)> OnAfterBind;

    // Opens for reading and, with a host and a port, connects a socket.
    void Open() override;
    // Closes the socket; the input buffer stays readable.
    void Close() noexcept override;
    void CheckDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) override;
    bool IsConnected() override;

    // The socket, once a first Open created it (else null).
    TIdSocketHandle* Binding() const noexcept { return FBinding.get(); }
    bool BindingAllocated() const noexcept { return FBinding && FBinding->HandleAllocated(); }

protected:
    // Allocates, binds and connects the binding's socket to Host and Port.
    virtual void ConnectSocket() = 0;

    std::unique_ptr<TIdSocketHandle> FBinding;
};

}  // namespace zel
