#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "xml/ECXMLParser.h"

using namespace zel;

namespace {

const std::string Header = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n";

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Counts every event a parser fires.
struct Events {
    int beforeLoad = 0, loaded = 0, beforeSave = 0, saved = 0, cleared = 0;
    bool allowSave = true, allowClear = true;
    explicit Events(TECXMLParser& p) {
        p.BeforeLoad = [this](TECXMLParser&, bool&) { ++beforeLoad; };
        p.OnLoaded = [this](TECXMLParser&) { ++loaded; };
        p.BeforeSave = [this](TECXMLParser&, bool& allow) { ++beforeSave, allow = allowSave; };
        p.OnSaved = [this](TECXMLParser&) { ++saved; };
        p.BeforeClear = [this](TECXMLParser&, bool& allow) { allow = allowClear; };
        p.OnCleared = [this](TECXMLParser&) { ++cleared; };
    }
};

class FailingStream : public TMemoryStream {
public:
    int64_t Read(void*, int64_t) override { throw EReadError("device gone"); }
};

// A new empty folder under the system's temporary folder (std::filesystem, so Windows has one too).
std::string MakeTempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto dir = std::filesystem::temp_directory_path() / ("zel-xml-" + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) return dir.string();
    }
    throw std::runtime_error("no temporary folder could be made");
}

class ParserFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

}  // namespace

TEST(Parser, SaveWritesHeaderThenTree) {
    TECXMLParser p;
    TMemoryStream fresh;
    p.SaveToStream(fresh, false);
    EXPECT_EQ(fresh.DataString(), Header + "  </>\r\n");

    p.RootItem().LoadFromString("<doc a=\"1\"><v>x</v></doc>");
    TMemoryStream on;
    p.SaveToStream(on, false);
    EXPECT_EQ(on.DataString(), Header + "  <doc a=\"1\">\r\n    <v>\r\n      x\r\n    </v>\r\n  </doc>\r\n");
    p.SetCrLfInAsString(false);
    TMemoryStream off;
    p.SaveToStream(off, false);
    EXPECT_EQ(off.DataString(), Header + "  <doc a=\"1\">  <v>  x  </v>  </doc>");
}

TEST_F(ParserFiles, StyleSheetLineDependsOnTargetAndValue) {
    const std::string line = "<?xml-stylesheet type=\"text/xsl\" href=\" view.xsl\"?>\r\n";
    struct Case { std::string styleSheet, file; bool written; } cases[] = {
        {" view.xsl", "out.xsl", false}, {" view.xsl", "out.XSL", false}, {" view.xsl", "out.xml", true},
        {" view.xsl", "out.xsl.txt", true}, {" \t ", "blank.xml", false},
    };
    for (const auto& c : cases) {
        TECXMLParser p;
        p.StyleSheet = c.styleSheet;
        p.SaveToFile(Path(c.file));
        EXPECT_EQ(ReadFile(Path(c.file)), Header + (c.written ? line : "") + "  </>\r\n") << c.file;
    }
}

TEST_F(ParserFiles, SaveEventsAndCancelling) {
    TECXMLParser p;
    Events ev(p);
    TMemoryStream s;
    p.SaveToStream(s, false);
    p.SaveToFile(Path("a.xml"));
    EXPECT_EQ(ev.saved, 2);

    // Cancelled: a stream gets nothing and no OnSaved; a file is still created, empty, and OnSaved
    // fires once.
    ev.allowSave = false;
    TMemoryStream cancelled;
    p.SaveToStream(cancelled, false);
    EXPECT_EQ(cancelled.Size(), 0);
    EXPECT_EQ(ev.saved, 2);
    p.SaveToFile(Path("a.xml"));
    EXPECT_TRUE(std::filesystem::exists(Path("a.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), "");
    EXPECT_EQ(ev.saved, 3);

    // Files that cannot be opened or created fail before any event.
    EXPECT_THROW(p.SaveToFile(Path("missing/a.xml")), EFCreateError);
    EXPECT_THROW(p.LoadFromFile(Path("missing.xml")), EFOpenError);
    std::filesystem::create_directory(Path("folder.xml"));
    EXPECT_THROW(p.LoadFromFile(Path("folder.xml")), EFOpenError);
    EXPECT_THROW(p.SaveToFile(Path("folder.xml")), EFCreateError);
    EXPECT_EQ(ev.beforeSave, 4);
    EXPECT_EQ(ev.saved, 3);
    EXPECT_EQ(ev.beforeLoad, 0);

    // A save that fails half way leaves a direct stream save still reporting itself.
    p.BeforeSave = [](TECXMLParser&, bool&) { throw EWriteError("disk full"); };
    EXPECT_THROW(p.SaveToFile(Path("a.xml")), EWriteError);
    p.BeforeSave = nullptr;
    TMemoryStream after;
    p.SaveToStream(after, false);
    EXPECT_EQ(ev.saved, 4);
}

TEST_F(ParserFiles, SavedDocumentLoadsBack) {
    TECXMLParser p;
    p.StyleSheet = "view.xsl";
    TXMLItem& r = p.RootItem();
    r.SetName("doc");
    // Ctrl+Z (\x1A) is written as it is: a reader in text mode would stop there.
    r.ItemByName("data/t0")->SetText("1<2 & \"3\"\r\n4\x1A" "5");
    TStringList params;
    params.Add("unit=\xB0" "C");
    r.ItemByName("data")->SetParams(params);
    p.SaveToFile(Path("doc.xml"));

    TECXMLParser q;
    q.LoadFromFile(Path("doc.xml"));
    EXPECT_EQ(q.StyleSheet, "view.xsl");
    EXPECT_EQ(q.RootItem().AsString(0), r.AsString(0));
    EXPECT_EQ(q.RootItem().ItemByName("data/t0")->Text(), "1<2 & \"3\"\r\n4\x1A" "5");
}

TEST(Parser, LongFirstLineLoadsThroughSecondAttempt) {
    const std::string doc = "<doc a=\"" + std::string(5000, 'v') + "\">\n<t0>1</t0>\n</doc>\n";
    TECXMLParser p;
    Events ev(p);
    // Reading starts where the stream stands, also on the second attempt.
    TMemoryStream s("JUNK" + doc);
    s.SetPosition(4);
    p.LoadFromStream(s);
    EXPECT_EQ(ev.beforeLoad, 2);
    EXPECT_EQ(ev.loaded, 1);
    EXPECT_EQ(p.RootItem().Text(), "");
    EXPECT_EQ(p.RootItem().Params().Value("a").size(), 5000u);
    EXPECT_EQ(p.RootItem().ItemByName("t0")->Text(), "1");
}

TEST_F(ParserFiles, WholeStreamAttemptHasNoLineLimitAndNamesItsOwnFailure) {
    std::string nested, longTag = "<a";
    for (int i = 0; i < 300; ++i) nested += "<e>";
    for (int i = 0; i < 600; ++i) longTag += " k=\"v\"\r\n";
    longTag += "><b/></a>";
    const std::string x5000(5000, 'x');
    std::string lines = "<a>\n";
    for (int i = 0; i < 1000; ++i) lines += "<b/>\n";
    // The reason of the first attempt, then the outcome of the whole-stream one (empty: it loads).
    struct Case { std::string doc, first, last; } cases[] = {
        {"\n<a>" + x5000 + "\n", SLineTooLong, ""},
        {"<a>" + x5000 + "</a>", SLineTooLong, ""},
        {longTag, STagTooLong, ""},
        // The first attempt fails far into the stream; the second starts where the first did.
        {lines + x5000 + "<c/></a>", SLineTooLong, ""},
        {"<a>x</a", SUnterminatedTag, SUnterminatedTag},
        {"<a>" + x5000 + "<b", SLineTooLong, SUnterminatedTag},
        {"<a" + x5000, SLineTooLong, SUnterminatedTag},
        {nested, "Elements nested too deeply", "Elements nested too deeply"},
    };
    auto reason = [](auto load) -> std::string {
        try {
            load();
        } catch (const EParserError& e) {
            return e.Reason();
        }
        return "";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doc.substr(0, 12));
        TECXMLParser p;
        Events ev(p);
        EXPECT_EQ(reason([&] { p.RootItem().LoadFromString(c.doc); }), c.first);
        TBytesViewStream s(c.doc);
        EXPECT_EQ(reason([&] { p.LoadFromStream(s); }), c.last);
        EXPECT_EQ(ev.beforeLoad, 3);
        EXPECT_EQ(ev.loaded, c.last.empty() ? 1 : 0);
        if (c.last.empty()) {
            EXPECT_EQ(p.RootItem().Name(), "a");
            EXPECT_EQ(p.RootItem().IndexOfName("c"), c.doc.starts_with(lines) ? 1000 : -1);
        }
        std::ofstream(Path("doc.xml"), std::ios::binary) << c.doc;
        EXPECT_EQ(reason([&] { p.LoadFromFile(Path("doc.xml")); }), c.last);
        // A file is read as a stream is: at most twice.
        EXPECT_EQ(ev.beforeLoad, 5);
    }

    // Other errors are not retried.
    TECXMLParser p;
    Events ev(p);
    FailingStream bad;
    EXPECT_THROW(p.LoadFromStream(bad), EReadError);
    EXPECT_EQ(ev.beforeLoad, 1);
}

TEST(Parser, StyleSheetInstructionSetsStyleSheet) {
    struct Case { std::string doc, styleSheet; } cases[] = {
        {"<?xml-stylesheet type=\"text/xsl\" href=\"v.xsl\"?><d/>", "v.xsl"},
        {"<?XML-STYLESHEET HREF=\"V w.xsl\" ?><d/>", "V w.xsl"},
        {"<?xml-stylesheet href=v.xsl?><d/>", "old"},
        {"<?xml-stylesheet href=\"v.xsl?><d/>", "old"},
        {"<?xml version=\"1.0\" href=\"v.xsl\"?><d/>", "old"},
        {"<d/>", "old"},
    };
    for (const auto& c : cases) {
        TECXMLParser p;
        p.StyleSheet = "old";
        p.RootItem().LoadFromString(c.doc);
        EXPECT_EQ(p.StyleSheet, c.styleSheet) << c.doc;
    }
}

TEST(Parser, LoadAndClearCanBeCancelled) {
    TECXMLParser p;
    Events ev(p);
    p.RootItem().LoadFromString("<doc k=\"1\">t<a/></doc>");
    p.BeforeLoad = [](TECXMLParser&, bool& allow) { allow = false; };
    p.RootItem().LoadFromString("<other/>");
    EXPECT_EQ(p.RootItem().Name(), "doc");
    EXPECT_EQ(ev.loaded, 1);
    ev.allowClear = false;
    p.Clear();
    EXPECT_EQ(p.RootItem().Count(), 1);
    EXPECT_EQ(ev.cleared, 0);
    ev.allowClear = true;
    p.Clear();
    EXPECT_EQ(p.RootItem().AsString(0), "</>\r\n");
    EXPECT_EQ(ev.cleared, 1);
}

TEST(Parser, ItemChangesAreReportedOutsideLoadsOnly) {
    TECXMLParser p;
    std::vector<std::string> changed;
    p.XMLItemChanged = [&](TECXMLParser& sender, TXMLItem& item) {
        EXPECT_EQ(&sender, &p);
        changed.push_back(item.Name());
    };
    TXMLItem& r = p.RootItem();
    r.LoadFromString("<doc><a/><b/></doc>");
    EXPECT_THROW(r.LoadFromString("<doc>\n" + std::string(5000, 'x')), EParserError);
    EXPECT_TRUE(changed.empty());

    r.LoadFromString("<doc><a/><b/></doc>");
    r.SubItems(0)->SetName("a2");
    r.SubItems(0)->SetText("t");
    r.SubItems(0)->SetParams(TStringList());
    r.New();
    r.Delete(2);
    r.Move(r.SubItems(1), 0);
    r.SubItems(0)->Clear();
    r.ItemByName("b")->ItemByName("c");
    p.Clear();
    EXPECT_EQ(changed, (std::vector<std::string>{"a2", "a2", "a2", "doc", "doc", "doc", "b", "b", "c"}));
}
