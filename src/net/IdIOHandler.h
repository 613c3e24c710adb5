#pragma once
// The reading and writing half of a connection: an input buffer filled from the socket under a
// read time-out, line reads, counted reads and reads up to the peer's close, and writes with an
// optional write buffer. TIdIOHandlerSocket adds the socket, TIdIOHandlerStack the system calls.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/IdBuffer.h"
#include "net/IdComponent.h"
#include "net/IdStack.h"
#include "platform/Streams.h"

namespace zel {

// Bytes, one char each; no text conversion ever happens on them.
using TIdBytes = std::string;

// Time-outs inside the handler: positive milliseconds; TimeoutDefault: the handler's ReadTimeout;
// IdTimeoutInfinite (-2, IdStack.h): no limit; 0: do not wait.
constexpr int32_t IdTimeoutDefault = -1;

enum TIdMaxLineAction : uint8_t { maException, maSplit };

class TIdTCPConnection;

class TIdIOHandler : public TIdComponent {
public:
    TIdIOHandler() = default;
    ~TIdIOHandler() override;

    // Reading and writing settings.
    int32_t MaxLineLength = 16384;  // 0: no limit
    TIdMaxLineAction MaxLineAction = maException;
    int32_t RecvBufferSize = 32768;
    int32_t SendBufferSize = 32768;
    int32_t ReadTimeout = 0;  // ms; 0: no limit
    // A point of MonotonicMs() by which every wait of a connect, read or send must end (0: none).
    // A wait it cuts short raises EIdReadTimeout (EIdConnectTimeout while connecting).
    int64_t Deadline = 0;
    // Raised by another thread, it ends every wait at once with EIdCancelled (null: none).
    const TIdCancelSignal* Cancel = nullptr;

    // Connecting settings, copied from the connection.
    std::string Host;
    int32_t Port = 0;
    int32_t ConnectTimeout = 0;  // ms; 0: a plain blocking connect

    // Prepares reading: opened, not closed by the peer, a fresh empty input buffer.
    virtual void Open();
    // Not opened any more; the input buffer stays readable until the next Open.
    virtual void Close() noexcept;
    // Notices a peer that has closed (which closes the handler) and, when asked to raise, raises
    // EIdConnClosedGracefully once the buffered bytes cannot serve a read (always, with
    // `ignoreBuffer`).
    virtual void CheckDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) = 0;
    virtual bool IsConnected();

    bool Opened() const noexcept { return FOpened; }
    bool ClosedGracefully() const noexcept { return FClosedGracefully; }
    // Outcome of the last ReadLine: split at the maximum length / ended by its time-out.
    bool ReadLnSplit() const noexcept { return FReadLnSplit; }
    bool ReadLnTimedOut() const noexcept { return FReadLnTimedOut; }
    // No input buffer, or nothing in it.
    bool InputBufferEmpty() const noexcept { return BufferSize() == 0; }
    TIdBuffer* InputBuffer() const noexcept { return FInputBuffer.get(); }

    // A line without its terminator (a CR right before an LF terminator goes too). With the
    // default time-out a time-out raises EIdReadTimeout; with an explicit one it returns "" and
    // sets ReadLnTimedOut. `maxLength` -1: MaxLineLength.
    std::string ReadLine(std::string_view terminator = "\n", int32_t timeout = IdTimeoutDefault, int32_t maxLength = -1);
    // count > 0: exactly that many bytes; -1: whatever arrives within ReadTimeout. Appended to
    // `buffer`, or written over its start.
    void ReadBytes(TIdBytes& buffer, int64_t count, bool append = true);
    // `count` bytes, or up to the peer's close, or (count -1) as many as a 4-byte network-order
    // length says. The stream grows only by bytes that arrived and ends at its position.
    void ReadToStream(TStream& stream, int64_t count = -1, bool readUntilDisconnect = false);
    // When connected, takes in what arrives within `timeoutMs`.
    void PollInput(int32_t timeoutMs);

    void WriteText(std::string_view text);  // nothing for ""
    void WriteLine(std::string_view text);  // text + CR LF
    void WriteBytes(std::string_view bytes);
    // size < 0: from the position to the end; 0: the whole stream from its start.
    void WriteFromStream(TStream& stream, int64_t size = -1, bool writeByteCount = false);

    // Collects writes until closed; with a threshold > 0, sends that much whenever it is reached.
    void OpenWriteBuffer(int32_t threshold = -1);
    void CloseWriteBuffer();  // sends what was collected
    void CancelWriteBuffer() noexcept;  // drops it
    void FlushWriteBuffer(int64_t count = -1);
    void ClearWriteBuffer() noexcept;
    bool WriteBufferOpen() const noexcept { return FWriteBuffer != nullptr; }

    // The connection this handler works for (set by the connection).
    TIdTCPConnection* Connection() const noexcept { return FConnection; }

protected:
    // Receives into the input buffer: the count, 0 when nothing came or there is no socket, -1
    // when the wait timed out (or EIdReadTimeout with `raiseOnTimeout`).
    virtual int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) = 0;
    // Sends all of `bytes` now, bypassing the write buffer.
    virtual void DirectSend(std::string_view bytes) = 0;

    int64_t BufferSize() const noexcept { return FInputBuffer ? FInputBuffer->Size() : 0; }

    bool FClosedGracefully = false;
    std::unique_ptr<TIdBuffer> FInputBuffer;

private:
    friend class TIdTCPConnection;
    std::string OverlongLine(int32_t maxLength);

    bool FOpened = false;
    bool FReadLnSplit = false;
    bool FReadLnTimedOut = false;
    std::unique_ptr<TIdBuffer> FWriteBuffer;
    int32_t FWriteBufferThreshold = -1;
    TIdTCPConnection* FConnection = nullptr;
};

}  // namespace zel
