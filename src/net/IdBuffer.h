#pragma once
// A byte queue: bytes are appended at the back and taken from the head. Taking only moves the
// head; the unread bytes are moved to the front once more than kGrowthReserve consumed bytes have
// piled up, so reading many short lines does not move the rest each time.
//
//   FBytes: [ consumed | unread (FSize bytes) | spare ]
//             0        ^FHead                 ^FHead+FSize     ^FBytes.size()
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Streams.h"

namespace zel {

class TIdBuffer {
public:
    static constexpr int64_t kGrowthReserve = 2048;

    // `onBytesRemoved` receives the count of every removal.
    explicit TIdBuffer(std::function<void(int64_t)> onBytesRemoved = {}) : FOnBytesRemoved(std::move(onBytesRemoved)) {}

    int64_t Size() const noexcept { return FSize; }
    // The unread bytes.
    std::string_view View() const noexcept { return std::string_view(FBytes).substr(static_cast<size_t>(FHead), static_cast<size_t>(FSize)); }

    // Adds bytes at the back. EIdTooMuchDataInBuffer when the size would pass 2,147,483,647.
    void Write(std::string_view bytes);
    // The same, but an empty buffer takes the string itself instead of a copy.
    void Adopt(std::string&& bytes);
    // Index of `pattern` relative to the head, searching from `start`; -1 when absent or when the
    // buffer is empty. Raises for an empty pattern or a start outside the unread bytes.
    int64_t IndexOf(std::string_view pattern, int64_t start = 0) const;
    // Takes `count` bytes from the head (-1: all; below 1: none). EIdNotEnoughDataInBuffer when
    // fewer are held; the buffer is then unchanged.
    std::string Extract(int64_t count = -1);
    // Takes `count` bytes (-1: all) into a stream.
    void ExtractToStream(TStream& stream, int64_t count = -1);
    // Drops everything (reported as one removal).
    void Clear();

private:
    void CheckCount(int64_t& count) const;
    void Remove(int64_t count);
    void Compact(bool shrink);

    std::string FBytes;
    int64_t FHead = 0;
    int64_t FSize = 0;
    std::function<void(int64_t)> FOnBytesRemoved;
};

}  // namespace zel
