// Arbitrary bytes through the parser component's stream load, which falls back to the whole-stream
// window when a line does not fit the 4096-byte one, then the document save with its header.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Streams.h"
#include "xml/ECXMLParser.h"
#include "xml_tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    TMemoryStream in(std::string(reinterpret_cast<const char*>(data), size));

    TECXMLParser parser;
    int loads = 0;
    parser.OnLoaded = [&loads](TECXMLParser&) { ++loads; };
    bool failed = false;
    try {
        parser.LoadFromStream(in);
    } catch (const EParserError&) {
        failed = true;
    }
    fuzz::Require(loads == (failed ? 0 : 1), "OnLoaded count does not match the load's outcome");
    fuzz::Require(in.Position() >= 0 && in.Position() <= in.Size(), "stream left outside its bytes");
    fuzz::CheckTree(parser);

    TMemoryStream out;
    parser.SaveToStream(out, false);
    const std::string& saved = out.DataString();
    static constexpr std::string_view header = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n";
    fuzz::Require(saved.compare(0, header.size(), header) == 0, "saved document lacks its header");

    // The saved document must load back through the same path.
    TECXMLParser again;
    out.SetPosition(0);
    try {
        again.LoadFromStream(out);
    } catch (const EParserError&) {
    }
    fuzz::CheckTree(again);
    return 0;
}
