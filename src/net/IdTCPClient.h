#pragma once
// The client side of a TCP connection: the target, the two time-outs and Connect.
#include <cstdint>
#include <functional>
#include <string>

#include "net/IdStack.h"
#include "net/IdTCPConnection.h"

namespace zel {

class TIdTCPClientCustom : public TIdTCPConnection {
public:
    std::string Host;  // host name or dotted IPv4 address
    int32_t Port = 0;
    TIdIPVersion IPVersion = Id_IPv4;
    std::function<void(TIdTCPClientCustom&)> OnConnected;
    std::function<void(TIdIOHandlerSocket&)> OnBeforeBind;
    std::function<void(TIdIOHandlerSocket&)> OnAfterBind;
    // Handed to the handler at every Connect: see TIdIOHandler::Deadline.
    int64_t Deadline = 0;
    // Handed to the handler at every Connect: see TIdIOHandler::Cancel.
    const TIdCancelSignal* Cancel = nullptr;

    // The handler's values while there is a handler, else the connection's own; setting stores
    // both. Milliseconds; ConnectTimeout 0: a plain blocking connect; ReadTimeout 0: no limit.
    int32_t ConnectTimeout() const noexcept;
    void SetConnectTimeout(int32_t value) noexcept;
    int32_t ReadTimeout() const noexcept;
    void SetReadTimeout(int32_t value) noexcept;

    // Opens the connection, creating a TIdIOHandlerStack when none is assigned. EIdAlreadyConnected
    // while connected; on any failure the handler is closed and the error passes on unchanged.
    virtual void Connect();
    // Also hands the connection's settings to the new handler.
    void SetIOHandler(TIdIOHandler* handler) override;

private:
    int32_t FConnectTimeout = 0;
    int32_t FReadTimeout = 0;
};

class TIdTCPClient : public TIdTCPClientCustom {};

}  // namespace zel
