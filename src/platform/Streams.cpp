#include "platform/Streams.h"

#include <algorithm>
#include <cstring>

#include "platform/Exceptions.h"

// TFileStream is on the operating system's descriptor calls: FileStream.cpp.
namespace zel {

namespace {

int64_t ClampedSeek(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position : size;
    return std::max<int64_t>(0, base + offset);
}

// Copies what is left of `data` from `position` on, at most `count` bytes, and advances `position`.
int64_t ReadBytes(std::string_view data, int64_t& position, void* buffer, int64_t count) {
    int64_t avail = static_cast<int64_t>(data.size()) - position;
    int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(avail, 0));
    if (n > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
    position += n;
    return n;
}

}  // namespace

int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot change"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) { return ReadBytes(FData, FPosition, buffer, count); }

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(FPosition + count);
    if (end > FData.size()) FData.resize(end);
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = ClampedSeek(FPosition, Size(), offset, origin);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    FPosition = std::min(FPosition, Size());
}

int64_t TBytesViewStream::Read(void* buffer, int64_t count) { return ReadBytes(FData, FPosition, buffer, count); }

int64_t TBytesViewStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = ClampedSeek(FPosition, Size(), offset, origin);
    return FPosition;
}

}  // namespace zel
