#include "xml/ItemChunks.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define ZEL_ITEM_CHUNKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_ITEM_CHUNKS 0
#endif
#endif
#ifndef ZEL_ITEM_CHUNKS
#define ZEL_ITEM_CHUNKS 1
#endif

namespace zel::xml {

#if ZEL_ITEM_CHUNKS

namespace {

// A chunk is aligned to its size, so an item finds its chunk by masking its own address. A chunk
// goes back when its thread has moved on to the next one and its last item is freed, on whatever
// thread that happens.
constexpr size_t kChunkBytes = 16 * 1024;
// A whole cache line for the header, so the count that other threads write as they free items shares
// its line with no item.
constexpr size_t kChunkHeaderBytes = 64;
// Every item starts on this boundary, one that operator new would also give it.
constexpr size_t kItemAlignment = 16;
// Added to a chunk's count while its thread still carves from it, so that it cannot reach zero.
constexpr uint32_t kChunkOpen = 1u << 30;

struct TChunkHeader {
    // kChunkOpen while open, less the items freed; once closed, the items made less those freed.
    std::atomic<uint32_t> live{kChunkOpen};
};
static_assert(sizeof(TChunkHeader) <= kChunkHeaderBytes);
static_assert(kChunkHeaderBytes % kItemAlignment == 0);
static_assert(kItemAlignment % __STDCPP_DEFAULT_NEW_ALIGNMENT__ == 0);

char* ChunkOf(void* item) noexcept {
    return reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(item) & ~uintptr_t{kChunkBytes - 1});
}

void ReleaseChunk(char* chunk, uint32_t count) noexcept {
    auto* header = reinterpret_cast<TChunkHeader*>(chunk);
    if (header->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
    header->~TChunkHeader();
    ::operator delete(chunk, std::align_val_t{kChunkBytes});
}

class TChunkCursor {
public:
    ~TChunkCursor() { Close(); }

    void* Take(size_t size) {
        size = (size + kItemAlignment - 1) & ~(kItemAlignment - 1);
        if (!FChunk || FNext + size > kChunkBytes) {
            Close();
            FChunk = static_cast<char*>(::operator new(kChunkBytes, std::align_val_t{kChunkBytes}));
            new (FChunk) TChunkHeader;
            FNext = kChunkHeaderBytes;
            FMade = 0;
        }
        void* p = FChunk + FNext;
        FNext += size;
        ++FMade;
        return p;
    }

private:
    void Close() noexcept {
        if (FChunk) ReleaseChunk(std::exchange(FChunk, nullptr), kChunkOpen - FMade);
    }

    char* FChunk = nullptr;
    size_t FNext = 0;
    uint32_t FMade = 0;
};

thread_local TChunkCursor tChunkCursor;

}  // namespace

void* TakeItemMemory(std::size_t size) { return tChunkCursor.Take(size); }

void ReturnItemMemory(void* p) noexcept {
    if (p) ReleaseChunk(ChunkOf(p), 1);
}

#else

void* TakeItemMemory(std::size_t size) { return ::operator new(size); }

void ReturnItemMemory(void* p) noexcept { ::operator delete(p); }

#endif

}  // namespace zel::xml
