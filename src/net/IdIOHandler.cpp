#include "net/IdIOHandler.h"

#include <algorithm>
#include <cstring>

#include "net/IdException.h"
#include "net/IdSocketHeaders.h"
#include "net/IdStack.h"
#include "net/IdTCPConnection.h"

namespace zel {

TIdIOHandler::~TIdIOHandler() {
    if (FConnection) FConnection->IOHandlerDestroyed(this);
}

void TIdIOHandler::Open() {
    FOpened = true;
    FClosedGracefully = false;
    FInputBuffer = std::make_unique<TIdBuffer>([this](int64_t count) { DoWork(wmRead, count); });
}

void TIdIOHandler::Close() noexcept { FOpened = false; }

bool TIdIOHandler::IsConnected() {
    CheckDisconnect(false, false);
    return ((!FClosedGracefully && FInputBuffer) || BufferSize() > 0) && FOpened;
}

// --- reading ---

std::string TIdIOHandler::ReadLine(std::string_view terminator, int32_t timeout, int32_t maxLength) {
    if (maxLength == -1) maxLength = MaxLineLength;
    if (terminator.empty()) terminator = "\n";
    FReadLnSplit = false;
    FReadLnTimedOut = false;
    const auto termLength = static_cast<int64_t>(terminator.size());
    int64_t position = -1;
    int64_t searchStart = 0;
    const int64_t start = MonotonicMs();
    do {
        if (BufferSize() > searchStart) {
            position = FInputBuffer->IndexOf(terminator, searchStart);
            // Searched bytes are not searched again; only a terminator's start may still lie in
            // the last termLength - 1 of them.
            searchStart = std::max<int64_t>(0, BufferSize() - termLength + 1);
        }
        if (maxLength != 0 && position > maxLength) return OverlongLine(maxLength);
        if (position == -1) {
            if (maxLength != 0 && BufferSize() > maxLength) return OverlongLine(maxLength);
            CheckDisconnect(true, true);
            bool timedOut = FillInputBuffer(true, timeout, timeout == IdTimeoutDefault) == -1;
            if (!timedOut && timeout >= 0 && MonotonicMs() - start >= timeout) timedOut = true;
            if (timedOut) {
                FReadLnTimedOut = true;
                return {};
            }
        }
    } while (position < 0);
    std::string line = FInputBuffer->Extract(position + termLength);
    line.resize(static_cast<size_t>(position));
    if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TIdIOHandler::OverlongLine(int32_t maxLength) {
    if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
    FReadLnSplit = true;
    return FInputBuffer->Extract(maxLength);
}

void TIdIOHandler::ReadBytes(TIdBytes& buffer, int64_t count, bool append) {
    if (count != -1 && count <= 0) return;
    // Without an input buffer nothing was ever opened, and the loop below could not end.
    if (!FInputBuffer) throw EIdException("Not Connected");
    if (count > 0) {
        while (BufferSize() < count) {
            FillInputBuffer(false, IdTimeoutDefault, true);
            CheckDisconnect(true, true);
        }
    } else {
        FillInputBuffer(false, ReadTimeout, false);
        CheckDisconnect(true, true);
    }
    std::string bytes = FInputBuffer->Extract(count);
    if (append) {
        buffer += bytes;
    } else {
        if (buffer.size() < bytes.size()) buffer.resize(bytes.size());
        std::memcpy(buffer.data(), bytes.data(), bytes.size());
    }
}

void TIdIOHandler::ReadToStream(TStream& stream, int64_t count, bool readUntilDisconnect) {
    if (count == -1 && !readUntilDisconnect) {
        TIdBytes prefix;
        ReadBytes(prefix, 4, false);
        uint32_t networkOrder;
        std::memcpy(&networkOrder, prefix.data(), sizeof networkOrder);
        count = static_cast<int32_t>(ntohl(networkOrder));
    }
    // No room is reserved from `count`: a peer's announced length costs nothing until bytes come.
    int64_t remaining = readUntilDisconnect ? INT32_MAX : count;
    BeginWork(wmRead, readUntilDisconnect ? 0 : count);
    try {
        if (remaining > 0 && BufferSize() > 0) {
            int64_t n = std::min(BufferSize(), remaining);
            FInputBuffer->ExtractToStream(stream, n);
            remaining -= n;
        }
        const int64_t chunk = std::min<int64_t>(remaining, std::max(RecvBufferSize, 1));
        TIdBytes scratch;
        while (remaining > 0 && IsConnected()) {
            int64_t n = std::min(remaining, chunk);
            scratch.clear();
            try {
                ReadBytes(scratch, n, false);
            } catch (const EIdConnClosedGracefully&) {
                n = std::min(n, BufferSize());
                scratch = FInputBuffer->Extract(n);
                stream.WriteString(scratch);
                remaining -= n;
                if (readUntilDisconnect) break;
                throw;
            } catch (...) {
                n = std::min(n, BufferSize());
                if (FInputBuffer) stream.WriteString(FInputBuffer->Extract(n));
                throw;
            }
            stream.WriteBuffer(scratch.data(), n);
            remaining -= n;
        }
    } catch (...) {
        EndWork(wmRead);
        if (stream.Position() < stream.Size()) stream.SetSize(stream.Position());
        throw;
    }
    EndWork(wmRead);
    if (stream.Position() < stream.Size()) stream.SetSize(stream.Position());
}

void TIdIOHandler::PollInput(int32_t timeoutMs) {
    if (IsConnected()) FillInputBuffer(false, timeoutMs, false);
}

// --- writing ---

void TIdIOHandler::WriteText(std::string_view text) {
    if (!text.empty()) WriteBytes(text);
}

void TIdIOHandler::WriteLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    WriteText(line);
}

void TIdIOHandler::WriteBytes(std::string_view bytes) {
    if (bytes.empty()) return;
    if (!FWriteBuffer) return DirectSend(bytes);
    FWriteBuffer->Write(bytes);
    if (FWriteBufferThreshold > 0 && FWriteBuffer->Size() >= FWriteBufferThreshold) FlushWriteBuffer(FWriteBufferThreshold);
}

void TIdIOHandler::WriteFromStream(TStream& stream, int64_t size, bool writeByteCount) {
    if (size < 0) {
        size = stream.Size() - stream.Position();
    } else if (size == 0) {
        stream.SetPosition(0);
        size = stream.Size();
    }
    if (writeByteCount) {
        uint32_t networkOrder = htonl(static_cast<uint32_t>(size));
        WriteBytes(std::string_view(reinterpret_cast<const char*>(&networkOrder), sizeof networkOrder));
    }
    BeginWork(wmWrite, size);
    try {
        std::string chunk;
        while (size > 0) {
            chunk.resize(static_cast<size_t>(std::min<int64_t>(size, std::max(SendBufferSize, 1))));
            int64_t n = stream.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
            if (n <= 0) throw EIdNoDataToRead();
            WriteBytes(std::string_view(chunk).substr(0, static_cast<size_t>(n)));
            size -= n;
        }
    } catch (...) {
        EndWork(wmWrite);
        throw;
    }
    EndWork(wmWrite);
}

void TIdIOHandler::OpenWriteBuffer(int32_t threshold) {
    FWriteBuffer = std::make_unique<TIdBuffer>();
    FWriteBufferThreshold = threshold;
}

void TIdIOHandler::CloseWriteBuffer() {
    if (!FWriteBuffer) return;
    try {
        FlushWriteBuffer(-1);
    } catch (...) {
        FWriteBuffer.reset();
        throw;
    }
    FWriteBuffer.reset();
}

void TIdIOHandler::CancelWriteBuffer() noexcept {
    ClearWriteBuffer();
    FWriteBuffer.reset();
}

void TIdIOHandler::FlushWriteBuffer(int64_t count) {
    if (!FWriteBuffer || FWriteBuffer->Size() == 0) return;
    std::string bytes = FWriteBuffer->Extract(count);
    DirectSend(bytes);
}

void TIdIOHandler::ClearWriteBuffer() noexcept {
    if (FWriteBuffer) FWriteBuffer->Clear();
}

}  // namespace zel
