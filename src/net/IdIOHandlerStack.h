#pragma once
// The socket I/O handler on the process-wide socket stack: receiving under a time-out, sending
// until everything is sent, and connecting with or without a connect time-out.
#include "net/IdIOHandlerSocket.h"

namespace zel {

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
    // Takes in what is already waiting (and notices a peer's close) before answering.
    bool IsConnected() override;

protected:
    int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) override;
    void DirectSend(std::string_view bytes) override;
    void ConnectSocket() override;

private:
    // Connects within `timeout` ms (-1 or -2: no limit); on a time-out closes the handler and
    // raises EIdConnectTimeout.
    void ConnectWithTimeout(int32_t timeout);
};

}  // namespace zel
