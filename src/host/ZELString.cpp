#include "host/ZELString.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <objbase.h>
#endif

namespace zel {

namespace {

constexpr size_t kHeader = 2 * sizeof(int32_t);

int32_t* Header(ZELStr s) noexcept {
    return reinterpret_cast<int32_t*>(const_cast<char*>(s) - kHeader);
}

}  // namespace

namespace hoststr {

namespace {
std::atomic<TBlockObserver> GBlockObserver{nullptr};
}  // namespace

void SetBlockObserver(TBlockObserver observer) noexcept { GBlockObserver.store(observer); }

void* AllocateBlock(size_t bytes) {
#ifdef _WIN32
    void* block = ::CoTaskMemAlloc(bytes);
#else
    void* block = std::malloc(bytes);
#endif
    if (!block) throw std::bad_alloc();
    if (TBlockObserver observer = GBlockObserver.load()) observer(block, true);
    return block;
}

void FreeBlock(void* block) noexcept {
    if (TBlockObserver observer = GBlockObserver.load()) observer(block, false);
#ifdef _WIN32
    ::CoTaskMemFree(block);
#else
    std::free(block);
#endif
}

char* Alloc(std::string_view s) {
    if (s.empty()) return nullptr;
    if (s.size() > 0x7FFFFFF0u) throw std::bad_alloc();
    auto* block = static_cast<char*>(AllocateBlock(kHeader + s.size() + 1));
    int32_t header[2] = {1, static_cast<int32_t>(s.size())};
    std::memcpy(block, header, kHeader);
    std::memcpy(block + kHeader, s.data(), s.size());
    block[kHeader + s.size()] = '\0';
    return block + kHeader;
}

void AddRef(ZELStr s) noexcept {
    if (!s) return;
    std::atomic_ref<int32_t> count(Header(s)[0]);
    if (count.load(std::memory_order_relaxed) < 0) return;
    count.fetch_add(1, std::memory_order_relaxed);
}

void Release(ZELStr s) noexcept {
    if (!s) return;
    std::atomic_ref<int32_t> count(Header(s)[0]);
    if (count.load(std::memory_order_relaxed) < 0) return;
    if (count.fetch_sub(1, std::memory_order_acq_rel) == 1) FreeBlock(Header(s));
}

int32_t Length(ZELStr s) noexcept { return s ? Header(s)[1] : 0; }

int32_t RefCount(ZELStr s) noexcept {
    return s ? std::atomic_ref<int32_t>(Header(s)[0]).load(std::memory_order_relaxed) : 0;
}

}  // namespace hoststr

ZELString& ZELString::operator=(const ZELString& o) noexcept {
    hoststr::AddRef(o.FData);
    hoststr::Release(FData);
    FData = o.FData;
    return *this;
}

ZELString& ZELString::operator=(ZELString&& o) noexcept {
    if (this != &o) {
        hoststr::Release(FData);
        FData = o.FData;
        o.FData = nullptr;
    }
    return *this;
}

ZELString ZELString::Adopt(char* s) noexcept {
    ZELString r;
    r.FData = s;
    return r;
}

ZELString ZELString::Share(ZELStr s) noexcept {
    hoststr::AddRef(s);
    return Adopt(const_cast<char*>(s));
}

char** ZELString::Out() noexcept {
    hoststr::Release(FData);
    FData = nullptr;
    return &FData;
}

}  // namespace zel
