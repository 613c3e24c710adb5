#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "xml/ECXMLParser.h"
#include "xml/ItemChunks.h"

using namespace zel;

namespace {

// name[params;...]{text}(children ...) -- compact enough to put a whole tree in a table.
std::string Dump(const TXMLItem& it) {
    std::string r = it.Name();
    if (it.Params().Count() > 0) {
        r += '[';
        for (int i = 0; i < it.Params().Count(); ++i) r += (i ? ";" : "") + it.Params().Strings(i);
        r += ']';
    }
    if (!it.Text().empty()) r += '{' + it.Text() + '}';
    if (it.Count() > 0) {
        r += '(';
        for (int i = 0; i < it.Count(); ++i) r += (i ? " " : "") + Dump(*it.SubItems(i));
        r += ')';
    }
    return r;
}

std::string Nested(int startTags, bool emptyInnermost) {
    std::string s;
    for (int i = 0; i < startTags; ++i) s += "<e>";
    if (emptyInnermost) s += "<e/>";
    for (int i = 0; i < startTags; ++i) s += "</e>";
    return s;
}

// Bytes in blocks the C heap has handed out and not had back, large ones included.
size_t HeapInUse() {
#ifdef _WIN32
    // The C runtime's heap, walked: Windows keeps no running total of it.
    _HEAPINFO entry{};
    size_t used = 0;
    int status;
    while ((status = _heapwalk(&entry)) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += entry._size;
    if (status != _HEAPEND) throw std::runtime_error("the heap walk stopped early");
    return used;
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

}  // namespace

TEST(Item, LoadBuildsTree) {
    struct Case { std::string in; std::string tree; } cases[] = {
        {"<doc><data><t0> 21.5 </t0></data></doc>", "doc(data(t0{21.5}))"},
        {"<a x=\"1\" y=\"b c\">", "a[x=1;y=b c]"},
        {"<a x=\"1\" />", "(a[x=1])"},
        {"<a x=\"\" y='2' z=\"&quot;q&lt;\">", "a[x=\"\";y='2';z=\"q<]"},
        // Nothing after '=' and a bare name are dropped; the other attributes are still unquoted.
        {"<t0 a= b=\"1\">", "t0[b=1]"},
        {"<t0 a b=\"1\" c>", "t0[b=1]"},
        // With a repeated name only the first line of that name is unquoted.
        {"<a k=\"1\" k=\"2\">", "a[k=1;k=\"2\"]"},
        {"<a>1&lt;2 &amp; 3&br&4</a>", "a{1<2 & 3\r\n4}"},
        // A second run is joined after CR LF; the stored part is not decoded a second time.
        {"<a>&amp;lt;<b/>x</a>", "a{&lt;\r\nx}(b)"},
        // A run that decodes to blanks only is replaced by the next run, at every level.
        {"<a>&lf&&cr&<b/>y<c/>z</a>", "a{y\r\nz}(b c)"},
        {"<a>x<b>&lf&</b>y<c>&lf&<d/>w</c></a>", "a{x\r\ny}(b{\n} c{w}(d))"},
        {"<a>\xA0x\xFC</a>", "a{\xA0x\xFC}"},
        {"<a/>", "(a)"},
        {"<d><t0 unit=\"C\"/><!-- <br/> --><?xml-x/></d>", "d{-->}(t0[unit=C])"},
        // A lone LF splits attributes (they become lines of the list); a tab does not.
        {"<a x=\"1\"\ny=\"2\" z=\"3\"\tw=\"4\">", "a[x=1;y=2;z=3\"\tw=\"4]"},
        {"pre<a/>", "{pre}(a)"},
        {"<?xml version=\"1.0\"?><!-- c --><d><!-- e --><e/></d>", "d(e)"},
        {"<!DOCTYPE d><d><e/></d>", "!DOCTYPE(d(e))"},
        {"", ""},
        // Content after the top-level element has nowhere to go.
        {"<a><b/></a> t <c/><d>u</d></e></f>", "a(b)"},
    };
    for (const auto& c : cases) {
        TECXMLParser p;
        p.RootItem().LoadFromString(c.in);
        EXPECT_EQ(Dump(p.RootItem()), c.tree) << c.in;
    }
}

TEST(Item, LoadIntoChildLeavesRestOfTreeAlone) {
    TECXMLParser p;
    TXMLItem& root = p.RootItem();
    root.LoadFromString("<doc><c/><k>1</k></doc>");
    root.SubItems(0)->LoadFromString("<x><y/></x> t <z/><w>u</w></v></doc></doc>");
    EXPECT_EQ(Dump(root), "doc(x(y) k{1})");
}

// A reply cut short loads as far as it goes; only LoadComplete tells it from a whole one.
TEST(Item, LoadCompleteOnlyWhenNoElementIsLeftOpen) {
    const std::pair<std::string, bool> cases[] = {
        {"<doc><t0>1</t0></doc>", true}, {"", true}, {"<a/>post<!-- c -->", true}, {"<a/><b></b>", true},
        {"<xml><data><t0>101", false},   {"<xml><data><t0>101</t0></data>", false}, {"<a/><b>", false},
    };
    for (const auto& [in, complete] : cases) {
        TXMLItem it;
        it.LoadFromString(in);
        EXPECT_EQ(it.LoadComplete(), complete) << in;
    }
    // A load that raised keeps the earlier tree, but is no complete load.
    TXMLItem it;
    it.LoadFromString("<keep/>");
    const std::string cut = "<a>\n" + std::string(5000, 'x');
    TBytesViewStream stream(cut);
    TXMLTokenizer tokenizer(stream);
    EXPECT_THROW(it.LoadFromTokenizer(tokenizer), EParserError);
    EXPECT_FALSE(it.LoadComplete());
}

TEST(Item, LoadErrorKeepsItemIfFirstFillFailed) {
    TXMLItem it;
    it.LoadFromString("<keep>t</keep>");
    EXPECT_THROW(it.LoadFromString(std::string(5000, 'x')), EParserError);
    EXPECT_EQ(Dump(it), "keep{t}");
    EXPECT_THROW(it.LoadFromString("<a><b/>\n" + std::string(5000, 'x')), EParserError);
    EXPECT_EQ(Dump(it), "a(b)");
}

TEST(Item, NestingIsLimitedTo256Levels) {
    struct Case { int startTags; bool emptyInnermost; bool ok; } cases[] = {
        {256, false, true}, {255, true, true}, {257, false, false}, {256, true, false}};
    // Depth is the nesting, not the count: closed elements give their level back.
    std::string siblings = "<r>";
    for (int i = 0; i < 300; ++i) siblings += "<e><f></f></e>\n";
    TXMLItem wide;
    wide.LoadFromString(siblings + "</r>");
    EXPECT_EQ(wide.Count(), 300);
    for (const auto& c : cases) {
        TXMLItem it;
        if (!c.ok) {
            EXPECT_THROW(it.LoadFromString(Nested(c.startTags, c.emptyInnermost)), EParserError) << c.startTags;
            continue;
        }
        it.LoadFromString(Nested(c.startTags, c.emptyInnermost));
        int levels = 1;
        for (const TXMLItem* p = &it; p->Count() > 0; p = p->SubItems(0)) ++levels;
        EXPECT_EQ(levels, 256);
    }
}

TEST(Item, DeepAndWideTreesNeedNoRecursion) {
    constexpr int N = 200000;
    auto build = [](TECXMLParser& p) {
        TXMLItem* it = &p.RootItem();
        it->SetName("r");
        for (int i = 0; i < N; ++i) (it = it->New())->SetName("d");
    };
    auto p = std::make_unique<TECXMLParser>();
    build(*p);
    p->SetCrLfInAsString(false);
    std::string s = p->RootItem().AsString(0);
    EXPECT_EQ(s.size(), 3 + (N - 1) * 3u + 4 + (N - 1) * 4u + 4);
    EXPECT_EQ(s.substr(0, 9), "<r><d><d>");
    EXPECT_EQ(s.substr(s.size() - 12), "</d></d></r>");
    p->RootItem().Clear();
    EXPECT_EQ(p->RootItem().Count(), 0);
    build(*p);
    p.reset();

    // The blocks the items were carved from go back with the items.
    const size_t before = HeapInUse();
    p = std::make_unique<TECXMLParser>();
    for (int i = 0; i < N; ++i) p->RootItem().New();
    EXPECT_EQ(p->RootItem().Count(), N);
    p.reset();
    EXPECT_LT(HeapInUse(), before + (1u << 20));
}

TEST(Item, ItemByNameFindsOrCreates) {
    TECXMLParser p;
    TXMLItem& r = p.RootItem();
    r.LoadFromString("<doc><data><t0>1</t0></data><x\xFC/></doc>");
    TXMLItem* data = r.ItemByName("DATA");
    ASSERT_EQ(data, r.SubItems(0));
    TXMLItem* s3 = data->ItemByName("s3");
    EXPECT_EQ(Dump(r), "doc(data(t0{1} s3) x\xFC)");
    EXPECT_EQ(data->ItemByName("s3"), s3);
    EXPECT_EQ(r.ItemByName(""), nullptr);
    EXPECT_EQ(s3->ItemByName("/x"), &r);
    EXPECT_EQ(s3->ItemByName("/doc/data/t0/"), data->SubItems(0));
    // Only ASCII letters fold: 0xDC is not the capital of 0xFC here.
    EXPECT_EQ(r.ItemByName("X\xFC"), r.SubItems(1));
    TXMLItem* upper = r.ItemByName("x\xDC");
    EXPECT_EQ(upper, r.SubItems(2));
    EXPECT_EQ(r.ItemByName("a/b/c")->FullName(), "doc/a/b/c/");

    TECXMLParser q;
    q.RootItem().LoadFromString("");
    EXPECT_EQ(q.RootItem().ItemByName("data")->ItemByName("t0")->Text(), "");
    EXPECT_EQ(Dump(q.RootItem()), "(data(t0))");
}

TEST(Item, AsStringIndentsAndEscapes) {
    TXMLItem a;
    a.SetName("a");
    a.SetText("x");
    a.New()->SetName("b");
    EXPECT_EQ(a.AsString(2), "  <a>\r\n    x\r\n    <b/>\r\n  </a>\r\n");
    a.SetCrLfInAsString(false);
    EXPECT_EQ(a.AsString(2), "  <a>  x  <b/>  </a>");
    EXPECT_FALSE(a.SubItems(0)->CrLfInAsString());

    TXMLItem e;
    e.LoadFromString("<a k=\"&lt;&quot;\">1&lt;2 &amp; 3&br&4</a>");
    EXPECT_EQ(e.AsString(0), "<a k=\"&lt;&quot;\">\r\n  1&lt;2 &amp; 3&br&4\r\n</a>\r\n");
}

TEST(Item, EscapeTable) {
    struct Case { std::string plain, escaped; } cases[] = {
        {"a&b<c>d\"e", "a&amp;b&lt;c&gt;d&quot;e"},
        {"1\r\n2\r3\n4\n\r5", "1&br&2&cr&3&lf&4&lf&&cr&5"},
        {"&lt;&br&", "&amp;lt;&amp;br&amp;"},
        {"it's &#65; &apos;", "it's &amp;#65; &amp;apos;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeText(c.plain), c.escaped);
        EXPECT_EQ(UnescapeText(c.escaped), c.plain);
    }
    EXPECT_EQ(UnescapeText("&#65;&apos;"), "&#65;&apos;");
    // Each step works on the result of the one before, in the table's order.
    struct Ambiguous { std::string escaped, plain; } ambiguous[] = {
        {"&cr&lf&", "&cr\n"}, {"&br&cr&", "&br\r"}, {"&lf&br&", "\nbr&"}, {"&amp;lt;", "&lt;"}, {"&lt&lf&;", "&lt\n;"},
    };
    for (const auto& c : ambiguous) EXPECT_EQ(UnescapeText(c.escaped), c.plain) << c.escaped;
}

TEST(Item, TagPartsAreClampedToTheTag) {
    struct Case { std::string tag, name, params; } cases[] = {
        {"<data>", "data", ""},
        {"<t0 unit=\"C\">", "t0", "unit=C"},
        {"<br/>", "br", ""},
        {"<", "", ""},
        {"", "", ""},
        {"<a  >", "a", ""},
        // Without '>' nothing lies between the first space and the tag's end.
        {"<a b=\"1\" c=\"x y\"", "a", ""},
        {"<a b=\"1\"/", "a", ""},
    };
    for (const auto& c : cases) {
        // In a block of exactly its size, so that a sanitizer reports a read past the tag's end.
        auto exact = std::make_unique_for_overwrite<char[]>(c.tag.size());
        std::copy(c.tag.begin(), c.tag.end(), exact.get());
        const std::string_view tag(exact.get(), c.tag.size());
        EXPECT_EQ(ExtractTagName(tag), c.name) << c.tag;
        TStringList params;
        params.Add("stale=1");
        ExtractParams(tag, params);
        std::string joined;
        for (int i = 0; i < params.Count(); ++i) joined += (i ? ";" : "") + params.Strings(i);
        EXPECT_EQ(joined, c.params) << c.tag;
    }
}

TEST(Item, ManyAttributesKeepTheirRules) {
    // More attributes than the common tag has. Distinct names are all unquoted. With a repeated name
    // (compared without case) each pass works on the first line of that name, rewriting it under the
    // name as last spelled, and the later line keeps its raw value; written back, every line carries
    // the value of the first line of its name.
    struct Case {
        std::string tag, params, written;
    };
    Case distinct{"<a", "", "a"}, repeated{"<a", "", "a"};
    for (int i = 0; i < 40; ++i) {
        std::string n = "k" + std::to_string(i), v = "v" + std::to_string(i);
        distinct.tag += " " + n + "=\"" + v + "\"";
        distinct.params += (i ? ";" : "") + n + "=" + v;
        distinct.written += " " + n + "=\"" + v + "\"";
    }
    for (int i = 0; i < 20; ++i) {
        std::string n = i == 3 ? "K3" : "k" + std::to_string(i);
        repeated.tag += " k" + std::to_string(i) + "=\"v\"";
        repeated.params += (i ? ";" : "") + n + "=v";
        repeated.written += " " + n + "=\"v\"";
    }
    distinct.tag += ">";
    repeated.tag += " K3=\"w\">";
    repeated.params += ";K3=\"w\"";
    repeated.written += " K3=\"v\"";
    for (const Case& c : {distinct, repeated}) {
        TStringList params;
        ExtractParams(c.tag, params);
        std::string joined;
        for (int i = 0; i < params.Count(); ++i) joined += (i ? ";" : "") + params.Strings(i);
        EXPECT_EQ(joined, c.params) << c.tag;
        TXMLItem item;
        item.LoadFromString(c.tag);
        EXPECT_EQ(item.TagText(), c.written);
    }
}

TEST(Item, BadPositionsChangeNothing) {
    TXMLItem a, other;
    a.LoadFromString("<a><b/><c/><B/></a>");
    EXPECT_EQ(a.IndexOfName("b", 0), 0);
    EXPECT_EQ(a.IndexOfName("b", 1), 2);
    EXPECT_EQ(a.IndexOfName("b", 3), -1);
    a.Delete(2);
    TXMLItem* stranger = other.New();
    EXPECT_THROW(a.Delete(2), EListError);
    EXPECT_THROW(a.Delete(-1), EListError);
    EXPECT_THROW(a.SubItems(2), EListError);
    EXPECT_THROW(a.Move(stranger, 0), EListError);
    EXPECT_THROW(a.Move(a.SubItems(0), 2), EListError);
    EXPECT_EQ(Dump(a), "a(b c)");
    a.Move(a.SubItems(1), 0);
    EXPECT_EQ(Dump(a), "a(c b)");
    // Re-parenting moves the item; making it a child of its own subtree is refused.
    TXMLItem* b = a.SubItems(1);
    b->SetParent(a.SubItems(0));
    EXPECT_EQ(Dump(a), "a(c(b))");
    EXPECT_THROW(a.SubItems(0)->SetParent(b), EInvalidOperation);
    EXPECT_THROW(b->SetParent(b), EInvalidOperation);
    EXPECT_EQ(Dump(a), "a(c(b))");
}

TEST(Item, OnlyItemsMadeByNewJoinATreeAndTheyTakeItsParser) {
    auto first = std::make_unique<TECXMLParser>();
    TECXMLParser second;
    std::vector<std::string> changed;
    second.XMLItemChanged = [&](TECXMLParser&, TXMLItem& item) { changed.push_back(item.Name()); };
    TXMLItem onStack;
    EXPECT_THROW(onStack.SetParent(&second.RootItem()), EInvalidOperation);
    EXPECT_THROW(first->RootItem().SetParent(&second.RootItem()), EInvalidOperation);
    EXPECT_EQ(first->RootItem().Parent(), nullptr);
    auto free = std::make_unique<TXMLItem>();
    free->SetParent(&second.RootItem());
    free.release()->SetName("free");

    // Moved out of a parser that then goes away: the subtree reports to its new parser.
    TXMLItem* moved = first->RootItem().New();
    moved->New();
    moved->SetParent(&second.RootItem());
    first.reset();
    moved->SubItems(0)->SetName("inner");
    // Detached, an item reports to no parser.
    TXMLItem* detached = second.RootItem().SubItems(0);
    detached->SetParent(nullptr);
    detached->SetName("gone");
    delete detached;
    EXPECT_EQ(changed, (std::vector<std::string>{"free", "inner"}));
    EXPECT_EQ(Dump(second.RootItem()), "((inner))");
}

namespace {

// The attribute algorithm written plainly, every pass a lookup in the list: the reference for the
// quicker paths of ExtractParams.
void PlainExtractParams(std::string_view tag, TStringList& params) {
    params.Clear();
    size_t space = tag.find(' '), q = tag.find('>');
    if (space == std::string_view::npos || q == std::string_view::npos) return;
    if (q >= 1 && tag[q - 1] == '/') --q;
    std::string a;
    bool quoted = false;
    for (char c : q > space + 1 ? tag.substr(space + 1, q - space - 1) : std::string_view()) {
        if (c == '"') quoted = !quoted;
        a += c == ' ' && !quoted ? std::string("\r\n") : std::string(1, c);
    }
    params.SetText(a);
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) names.push_back(params.Name(i));
    for (const std::string& n : names) {
        std::string v = params.Value(n);
        if (v.size() > 2) {
            if (v.front() == '"') v.erase(0, 1);
            if (v.back() == '"') v.pop_back();
        }
        params.SetValue(n, UnescapeText(v));
    }
}

}  // namespace

TEST(Item, AttributesMatchThePlainAlgorithmOnRandomTags) {
    // Few names in mixed case, one quoted, values that unquote and decode over several passes, bare
    // names, empty values, lone line breaks and tabs inside and between attributes.
    const std::vector<std::string> names = {"k", "K", "x", "", "a b", "\"n m\""};
    const std::vector<std::string> values = {"\"v\"", "\"\"", "\"\"\"\"", "&quot;&quot;q&quot;&quot;",
                                             "\"&amp;quot;w&amp;quot;\"", "&amp;amp;lt;", "", "\"a\nb\"",
                                             "&lf&", "\"x y\"", "v\tw", "=\"e\""};
    const std::vector<std::string> separators = {" ", " ", "  ", "\n", "\t", " \r"};
    std::mt19937 random(7);
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    for (int round = 0; round < 3000; ++round) {
        std::string tag = "<t";
        const int count = static_cast<int>(random() % 24);
        for (int i = 0; i < count; ++i) {
            tag += pick(separators);
            tag += random() % 8 == 0 ? pick(names) : pick(names) + "=" + pick(values);
        }
        tag += random() % 3 == 0 ? "/>" : ">";
        TStringList want, got;
        PlainExtractParams(tag, want);
        ExtractParams(tag, got);
        ASSERT_EQ(got.Lines(), want.Lines()) << tag;
    }
}

TEST(Item, ItemsOutliveTheThreadThatMadeThemAndMayBeFreedOnAnother) {
    // Enough items to fill several of a thread's blocks, some of which stay in use after it ends.
    std::string doc = "<r>";
    for (int i = 0; i < 1000; ++i) doc += "<e k=\"" + std::to_string(i) + "\">t</e>\n";
    doc += "</r>";
    auto parser = std::make_unique<TECXMLParser>();
    std::unique_ptr<TXMLItem> kept, first;
    std::thread maker([&] {
        parser->RootItem().LoadFromString(doc);
        kept.reset(parser->RootItem().SubItems(500));
        kept->SetParent(nullptr);
        first.reset(parser->RootItem().SubItems(0));
        first->SetParent(nullptr);
    });
    maker.join();
    // Two threads free items of one block at once; whichever frees the last returns the block.
    std::thread freer([&] { parser.reset(); }), other([&] { first.reset(); });
    freer.join();
    other.join();
    EXPECT_EQ(Dump(*kept), "e[k=500]{t}");
    // This thread's items share blocks with nothing the other threads made.
    TECXMLParser again;
    again.RootItem().LoadFromString(doc);
    EXPECT_EQ(again.RootItem().Count(), 1000);
    xml::ReturnItemMemory(nullptr);  // giving back none is allowed, as deleting a null pointer is
}
