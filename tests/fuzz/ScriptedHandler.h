#pragma once
// An I/O handler that stands in for a socket: it "receives" a script of bytes in pieces of varying
// size and then reports the peer's close; everything sent to it is dropped. It lets a fuzz target
// feed any reply to the HTTP client without a network.
#include <algorithm>
#include <string>
#include <string_view>

#include "net/IdException.h"
#include "net/IdIOHandler.h"

namespace zel::fuzz {

class TScriptedHandler : public TIdIOHandler {
public:
    explicit TScriptedHandler(std::string_view script) : FScript(script) {}

    void Open() override {
        TIdIOHandler::Open();
        FOpenSocket = true;
        FPos = 0;
        ++Opens;
    }
    void Close() noexcept override {
        FOpenSocket = false;
        TIdIOHandler::Close();
    }
    void CheckDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) override {
        bool disconnected = !FOpenSocket;
        if (FClosedGracefully && FOpenSocket) {
            Close();
            disconnected = true;
        }
        if (disconnected && FInputBuffer && (FInputBuffer->Size() == 0 || ignoreBuffer) && raiseIfDisconnected)
            throw EIdConnClosedGracefully();
    }
    bool IsConnected() override {
        FillInputBuffer(false, 0, false);
        return (FOpenSocket && TIdIOHandler::IsConnected()) || !InputBufferEmpty();
    }

    int Opens = 0;
    size_t Sent = 0;

protected:
    int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t, bool) override {
        CheckDisconnect(raiseIfDisconnected, false);
        if (!FOpenSocket) {
            if (raiseIfDisconnected) throw EIdException("Not Connected");
            return 0;
        }
        // Pieces of 1, 2, 3, ... 13 bytes, then one large one, in turn: lines and counts get cut
        // at every kind of place.
        static constexpr size_t kPieces[] = {1, 2, 3, 5, 8, 13, 4096};
        size_t n = std::min(kPieces[FPiece++ % std::size(kPieces)], FScript.size() - FPos);
        if (n > 0) FInputBuffer->Write(FScript.substr(FPos, n));
        FPos += n;
        FClosedGracefully = n == 0;
        CheckDisconnect(raiseIfDisconnected, false);
        return static_cast<int32_t>(n);
    }
    void DirectSend(std::string_view bytes) override {
        CheckDisconnect(true, true);
        if (!FOpenSocket) throw EIdNotConnected();
        Sent += bytes.size();
    }

private:
    std::string_view FScript;
    size_t FPos = 0;
    size_t FPiece = 0;
    bool FOpenSocket = false;
};

}  // namespace zel::fuzz
