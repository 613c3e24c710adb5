// Arbitrary bytes through the path the device update takes: the root item's own load (the
// 4096-byte window only), lookups by name and path, writing the tree and reading it back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/ECXMLParser.h"
#include "xml_tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    TECXMLParser parser;
    TXMLItem& root = parser.RootItem();
    try {
        root.LoadFromString(input);
    } catch (const EParserError&) {
        // Lines too long for the window and overly deep nesting are refused; the tree keeps what
        // was read before and must still be usable, and no caller may take it for a whole document.
        fuzz::Require(!root.LoadComplete(), "a load that raised counts as complete");
    }
    fuzz::CheckTree(parser);
    std::string written = root.AsString(2);

    static constexpr std::string_view lookups[] = {"data", "data/t0", "/x/y", "a/", "//"};
    for (std::string_view name : lookups) {
        TXMLItem* item = root.ItemByName(name);
        fuzz::Require(item != nullptr, "lookup of a non-empty name yielded none");
        volatile size_t textSize = item->Text().size();
        (void)textSize;
    }
    fuzz::Require(root.ItemByName("") == nullptr, "lookup of the empty name yielded an item");
    // A second lookup of a path finds what the first one found or created.
    fuzz::Require(root.ItemByName("data/t0") == root.ItemByName("data/t0"), "path lookup not stable");
    fuzz::CheckTree(parser);

    TECXMLParser again;
    try {
        again.RootItem().LoadFromString(written);
    } catch (const EParserError&) {
        // Written text can hold lines longer than the window (long texts, many attributes).
    }
    fuzz::CheckTree(again);
    (void)again.RootItem().AsString(0);
    return 0;
}
