#pragma once
// Finding the first of a few bytes, kScanWidth bytes at a time where the processor allows it. Tags,
// text runs and attribute values are scanned byte by byte otherwise, and that loop is most of the
// time a load spends outside the allocator.
#include <array>
#include <cstddef>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zel::xml {

// The bytes compared at once: one SSE2 register.
constexpr size_t kScanWidth = 16;

template <char... Stops>
struct TStopTable {
    static constexpr std::array<bool, 256> Table = [] {
        std::array<bool, 256> t{};
        ((t[static_cast<unsigned char>(Stops)] = true), ...);
        return t;
    }();
};

// Offset of the first byte of [p, p + n) that equals one of `Stops`, or n when there is none.
// Reads nothing outside that range.
template <char... Stops>
inline size_t FindFirstOf(const char* p, size_t n) noexcept {
    size_t i = 0;
#if defined(__SSE2__)
    static_assert(sizeof(__m128i) == kScanWidth);
    for (; i + kScanWidth <= n; i += kScanWidth) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hits = (_mm_cmpeq_epi8(block, _mm_set1_epi8(Stops)) | ...);
        if (const int mask = _mm_movemask_epi8(hits)) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    // The rest, and all of a short span, by table: one load per byte, however many stops.
    for (; i < n; ++i)
        if (TStopTable<Stops...>::Table[static_cast<unsigned char>(p[i])]) return i;
    return n;
}

template <char... Stops>
inline size_t FindFirstOf(std::string_view s) noexcept {
    const size_t i = FindFirstOf<Stops...>(s.data(), s.size());
    return i == s.size() ? std::string_view::npos : i;
}

}  // namespace zel::xml
