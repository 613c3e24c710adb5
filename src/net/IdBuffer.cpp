#include "net/IdBuffer.h"

#include <cstring>

#include "net/IdException.h"

namespace zel {

namespace {
constexpr int64_t kMaxBufferSize = 2147483647;
}  // namespace

void TIdBuffer::Adopt(std::string&& bytes) {
    if (FSize != 0) return Write(std::string_view(bytes));
    if (static_cast<int64_t>(bytes.size()) > kMaxBufferSize) throw EIdTooMuchDataInBuffer();
    FBytes = std::move(bytes);
    FHead = 0;
    FSize = static_cast<int64_t>(FBytes.size());
}

void TIdBuffer::Write(std::string_view bytes) {
    const auto length = static_cast<int64_t>(bytes.size());
    if (length == 0) return;
    if (FSize + length > kMaxBufferSize) throw EIdTooMuchDataInBuffer();
    Compact(false);
    if (static_cast<int64_t>(FBytes.size()) - FSize < length) FBytes.resize(static_cast<size_t>(FSize + length + kGrowthReserve));
    std::memcpy(FBytes.data() + FSize, bytes.data(), bytes.size());
    FSize += length;
}

int64_t TIdBuffer::IndexOf(std::string_view pattern, int64_t start) const {
    if (FSize == 0) return -1;
    if (pattern.empty()) throw EIdException("Buffer terminator must be specified.");
    if (start < 0 || start >= FSize) throw EIdException("Buffer start position is invalid.");
    size_t pos = View().find(pattern, static_cast<size_t>(start));
    return pos == std::string_view::npos ? -1 : static_cast<int64_t>(pos);
}

void TIdBuffer::CheckCount(int64_t& count) const {
    if (count == -1) count = FSize;
    if (count > FSize) throw EIdNotEnoughDataInBuffer(count, FSize);
}

std::string TIdBuffer::Extract(int64_t count) {
    CheckCount(count);
    if (count < 1) return {};
    std::string result(View().substr(0, static_cast<size_t>(count)));
    Remove(count);
    return result;
}

void TIdBuffer::ExtractToStream(TStream& stream, int64_t count) {
    CheckCount(count);
    Compact(true);
    if (count < 1) return;
    stream.WriteBuffer(FBytes.data(), count);
    Remove(count);
}

void TIdBuffer::Clear() { Remove(FSize); }

void TIdBuffer::Remove(int64_t count) {
    if (count < 1) return;
    if (count < FSize) {
        FHead += count;
        FSize -= count;
        if (FHead > kGrowthReserve) Compact(true);
    } else {
        std::string().swap(FBytes);  // releases the array
        FHead = 0;
        FSize = 0;
    }
    if (FOnBytesRemoved) FOnBytesRemoved(count);
}

// Moves the unread bytes to the front; with `shrink` also gives back spare room beyond the growth
// reserve.
void TIdBuffer::Compact(bool shrink) {
    if (FHead != 0) {
        std::memmove(FBytes.data(), FBytes.data() + FHead, static_cast<size_t>(FSize));
        FHead = 0;
    }
    if (shrink && static_cast<int64_t>(FBytes.size()) - FSize > kGrowthReserve) {
        FBytes.resize(static_cast<size_t>(FSize + kGrowthReserve));
        FBytes.shrink_to_fit();
    }
}

}  // namespace zel
