#include "net/IdTCPClient.h"

#include "net/IdException.h"
#include "net/IdIOHandlerStack.h"

namespace zel {

int32_t TIdTCPClientCustom::ConnectTimeout() const noexcept {
    return IOHandler() ? IOHandler()->ConnectTimeout : FConnectTimeout;
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t value) noexcept {
    FConnectTimeout = value;
    if (IOHandler()) IOHandler()->ConnectTimeout = value;
}

int32_t TIdTCPClientCustom::ReadTimeout() const noexcept { return IOHandler() ? IOHandler()->ReadTimeout : FReadTimeout; }

void TIdTCPClientCustom::SetReadTimeout(int32_t value) noexcept {
    FReadTimeout = value;
    if (IOHandler()) IOHandler()->ReadTimeout = value;
}

void TIdTCPClientCustom::Connect() {
    if (IsConnected()) throw EIdAlreadyConnected();
    if (!IOHandler()) {
        auto* handler = new TIdIOHandlerStack();
        AdoptIOHandler(handler);
        handler->OnStatus = OnStatus;
    }
    TIdIOHandler* handler = IOHandler();
    try {
        handler->Port = Port;
        handler->Host = Host;
        if (Socket()) Socket()->IPVersion = IPVersion;
        if (FConnectTimeout > 0) handler->ConnectTimeout = FConnectTimeout;
        if (FReadTimeout > 0) handler->ReadTimeout = FReadTimeout;
        handler->Deadline = Deadline;
        handler->Cancel = Cancel;
        handler->Open();
        DoStatus(hsConnected);
        if (OnConnected) OnConnected(*this);
    } catch (...) {
        handler->Close();
        throw;
    }
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* handler) {
    TIdTCPConnection::SetIOHandler(handler);
    if (!handler) return;
    if (FConnectTimeout > 0) handler->ConnectTimeout = FConnectTimeout;
    if (FReadTimeout > 0) handler->ReadTimeout = FReadTimeout;
    if (auto* socket = Socket()) {
        if (Port > 0) socket->Port = Port;
        if (!Host.empty()) socket->Host = Host;
        socket->IPVersion = IPVersion;
        socket->OnBeforeBind = OnBeforeBind;
        socket->OnAfterBind = OnAfterBind;
    }
}

}  // namespace zel
