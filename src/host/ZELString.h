#pragma once
// The host's counted 8-bit string. A string reference points at the first character; the 32-bit
// length stands in the 4 bytes before it and a 32-bit reference count in the 4 bytes before those
// (-1 marks a constant that is never freed); a zero byte follows the last character. The empty
// string is the null reference. Blocks are allocated and freed only by the pair below.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// A string reference as it crosses the boundary (a "const string" argument).
using ZELStr = const char*;

namespace hoststr {
// The one allocator of host string blocks. Each side of the module boundary frees blocks that the
// other side allocated, so the module and every host must use this same pair: malloc and free on
// Linux, the COM task allocator (CoTaskMemAlloc and CoTaskMemFree) on Windows. Nothing else
// allocates or frees one.
// A block of `bytes` bytes, for the header, the characters and the zero byte; raises std::bad_alloc.
void* AllocateBlock(size_t bytes);
// Gives back a block from AllocateBlock: the address of its header, not the string reference.
void FreeBlock(void* block) noexcept;

// For tests that count blocks: called after AllocateBlock gives out a block (allocated true) and
// before FreeBlock takes one back (false). Null, the default, observes nothing.
using TBlockObserver = void (*)(void* block, bool allocated) noexcept;
void SetBlockObserver(TBlockObserver observer) noexcept;

// A new block holding `s` with reference count 1; null for the empty string.
char* Alloc(std::string_view s);
void AddRef(ZELStr s) noexcept;
// Drops one reference; the last one frees the block.
void Release(ZELStr s) noexcept;
int32_t Length(ZELStr s) noexcept;
int32_t RefCount(ZELStr s) noexcept;
inline std::string_view View(ZELStr s) noexcept {
    return s ? std::string_view(s, static_cast<size_t>(Length(s))) : std::string_view();
}
}  // namespace hoststr

// Holds one counted reference; copies count references, as records holding strings do.
class ZELString {
public:
    ZELString() noexcept = default;
    ZELString(std::string_view s) : FData(hoststr::Alloc(s)) {}  // NOLINT: implicit by design
    ZELString(const char* s) : ZELString(std::string_view(s ? s : "")) {}  // NOLINT
    ZELString(const std::string& s) : ZELString(std::string_view(s)) {}  // NOLINT
    ZELString(const ZELString& o) noexcept : FData(o.FData) { hoststr::AddRef(FData); }
    ZELString(ZELString&& o) noexcept : FData(o.FData) { o.FData = nullptr; }
    ~ZELString() { hoststr::Release(FData); }
    ZELString& operator=(const ZELString& o) noexcept;
    ZELString& operator=(ZELString&& o) noexcept;

    // Takes over a reference that was counted for us (an out argument filled by the other side).
    static ZELString Adopt(char* s) noexcept;
    // Shares a reference handed in as an argument.
    static ZELString Share(ZELStr s) noexcept;

    ZELStr Ref() const noexcept { return FData; }
    std::string_view View() const noexcept { return hoststr::View(FData); }
    std::string Str() const { return std::string(View()); }
    bool Empty() const noexcept { return FData == nullptr; }
    // Releases the held string and gives the slot for an out argument.
    char** Out() noexcept;

    friend bool operator==(const ZELString& a, const ZELString& b) noexcept { return a.View() == b.View(); }

private:
    char* FData = nullptr;
};
static_assert(sizeof(ZELString) == sizeof(void*), "a host string field is one pointer");

// A constant in the counted layout, for static data: reference count -1, never freed.
template <size_t N>
struct ZELConstString {
    int32_t RefCount;
    int32_t Length;
    char Chars[N];
    ZELStr Ref() const noexcept { return Chars; }
};

template <size_t N>
constexpr ZELConstString<N> MakeConstString(const char (&text)[N]) {
    ZELConstString<N> r{-1, static_cast<int32_t>(N - 1), {}};
    for (size_t i = 0; i < N; ++i) r.Chars[i] = text[i];
    return r;
}

}  // namespace zel
