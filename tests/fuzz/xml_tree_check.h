#pragma once
// Structural checks shared by the XML fuzzers: whatever the input, a loaded tree must stay a tree
// whose links agree, all of it belonging to the parser that loaded it.
#include <cstdlib>
#include <cstdio>
#include <vector>

#include "xml/ECXMLParser.h"

namespace zel::fuzz {

inline void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "tree check failed: %s\n", what);
        std::abort();
    }
}

inline void CheckTree(TECXMLParser& parser) {
    TXMLItem& root = parser.RootItem();
    Require(root.Parent() == nullptr, "root has a parent");
    std::vector<std::pair<TXMLItem*, int>> work{{&root, 0}};
    while (!work.empty()) {
        auto [item, depth] = work.back();
        work.pop_back();
        Require(item->Parser() == &parser, "item of another parser");
        Require(item->Count() == item->SubItemCount(), "Count and SubItemCount differ");
        // Lookups may add one level below the deepest loaded element.
        Require(depth <= MaxXMLNesting + 8, "tree deeper than the loader allows");
        for (int i = 0; i < item->SubItemCount(); ++i) {
            TXMLItem* child = item->SubItems(i);
            Require(child->Parent() == item, "child does not point back to its parent");
            Require(item->IndexOf(child) == i, "IndexOf disagrees with the child's position");
            work.emplace_back(child, depth + 1);
        }
    }
}

}  // namespace zel::fuzz
