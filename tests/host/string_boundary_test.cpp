// A counted string crosses the boundary and is freed by whichever side drops the last reference.
// The "host" here does what a host in another language would: it makes and frees blocks with the
// platform allocator of the contract directly, never through our code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#ifdef _WIN32
#include <objbase.h>
#endif

#include "host/ZELString.h"

using namespace zel;

namespace {

#ifdef _WIN32
void* HostAllocate(size_t bytes) { return ::CoTaskMemAlloc(bytes); }
void HostFree(void* block) { ::CoTaskMemFree(block); }

// What the task allocator says of `block`: 1 its live block, 0 not, -1 it cannot tell. The
// observer sees only our own calls; this sees whether they reached the shared allocator.
int TaskAllocatorHolds(void* block) {
    IMalloc* allocator = nullptr;
    if (::CoGetMalloc(1, &allocator) != S_OK) return -1;
    const int held = allocator->DidAlloc(block);
    allocator->Release();
    return held;
}
#else
void* HostAllocate(size_t bytes) { return std::malloc(bytes); }
void HostFree(void* block) { std::free(block); }
#endif

// Per block: +1 when made, -1 when freed, by either side. Single-threaded test: plain maps.
std::map<void*, int> GLive;
std::map<void*, int> GModuleFrees;

void Observe(void* block, bool allocated) noexcept {
    GLive[block] += allocated ? 1 : -1;
    if (!allocated) ++GModuleFrees[block];
}

char* HostMake(const std::string& text) {
    auto* block = static_cast<int32_t*>(HostAllocate(8 + text.size() + 1));
    block[0] = 1;
    block[1] = static_cast<int32_t>(text.size());
    std::memcpy(block + 2, text.c_str(), text.size() + 1);
    ++GLive[block];
    return reinterpret_cast<char*>(block + 2);
}

// The block's header as a host sees it: the reference count, then the length.
int32_t* Header(ZELStr s) { return reinterpret_cast<int32_t*>(const_cast<char*>(s) - 8); }

void HostAddRef(ZELStr s) { ++Header(s)[0]; }

// Returns true when this dropped the last reference and freed the block.
bool HostRelease(ZELStr s) {
    if (--Header(s)[0] > 0) return false;
    --GLive[Header(s)];
    HostFree(Header(s));
    return true;
}

}  // namespace

TEST(HostString, LastReferenceFreesTheBlockOnceOnEitherSide) {
    // maker: 'H' host or 'M' module, holding the first reference. steps: 'h'/'m' that side takes a
    // reference, 'H'/'M' it drops one. freer: the side whose drop frees the block.
    struct Case {
        char maker;
        const char* steps;
        char freer;
    } cases[] = {
        {'M', "M", 'M'},      {'H', "H", 'H'},      {'M', "hMH", 'H'},    {'H', "mHM", 'M'},
        {'M', "hhMHH", 'H'},  {'H', "mmHMM", 'M'},  {'M', "hmHMM", 'M'},  {'H', "hmMHH", 'H'},
    };
    hoststr::SetBlockObserver(Observe);
    for (const Case& c : cases) {
        GLive.clear();
        GModuleFrees.clear();
        ZELStr s = c.maker == 'H' ? HostMake("Wohnzimmer") : hoststr::Alloc("Wohnzimmer");
        void* block = const_cast<char*>(s) - 8;
#ifdef _WIN32
        EXPECT_NE(TaskAllocatorHolds(block), 0) << c.maker << ": made by the task allocator";
#endif
        char freer = 0;
        for (const char* step = c.steps; *step; ++step) {
            ASSERT_EQ(freer, 0) << c.steps << ": a reference was used after the block was freed";
            EXPECT_EQ(hoststr::View(s), "Wohnzimmer") << c.steps;
            switch (*step) {
                case 'h': HostAddRef(s); break;
                case 'm': hoststr::AddRef(s); break;
                case 'H':
                    if (HostRelease(s)) freer = 'H';
                    break;
                case 'M':
                    hoststr::Release(s);
                    if (GModuleFrees[block] > 0) freer = 'M';
                    break;
            }
        }
        EXPECT_EQ(freer, c.freer) << c.maker << " " << c.steps;
#ifdef _WIN32
        EXPECT_NE(TaskAllocatorHolds(block), 1) << c.maker << " " << c.steps << ": given back to the task allocator";
#endif
        EXPECT_EQ(GLive[block], 0) << c.maker << " " << c.steps << ": made once, freed once";
        EXPECT_EQ(GModuleFrees[block], c.freer == 'M' ? 1 : 0) << c.maker << " " << c.steps;
    }
    hoststr::SetBlockObserver(nullptr);
}
