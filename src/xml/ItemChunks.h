#pragma once
// Where the XML tree's items live. Items are carved one after the other from chunks owned by the
// thread that makes them, so a document's items lie together and making or freeing one costs a few
// instructions instead of a trip through the general allocator (where items fall into its slowest
// size class). Under AddressSanitizer every item is its own block, so misuse is still reported.
#include <cstddef>

namespace zel::xml {

// Memory for one item of `size` bytes, aligned as operator new aligns; raises std::bad_alloc as
// operator new does.
void* TakeItemMemory(std::size_t size);
// Gives back memory that TakeItemMemory returned, on any thread; none is ignored.
void ReturnItemMemory(void* p) noexcept;

}  // namespace zel::xml
