// The settings store on its own: values survive the file byte for byte, writing is atomic, and
// anything that is not a store is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "Process.h"
#include "SettingsStore.h"

using namespace zelhost;
using zeltest::TTempDir;

namespace {

const std::vector<std::string_view> Settings = {"Settings"};
const std::string Bom = "\xEF\xBB\xBF";  // UTF-8's byte order mark

std::string AllHighBytes() {
    std::string s;
    for (int b = 0x80; b <= 0xFF; ++b) s += static_cast<char>(b);
    return s;
}

}  // namespace

TEST(SettingsStore, ValuesComeBackFromTheFileByteForByte) {
    const std::vector<std::string> values = {
        "127.0.0.1",
        "  blanks at both ends  ",
        "",
        "\"\"",  // what an empty attribute loads as
        "\"quoted\" & <tagged> 'too'",
        "line\r\nbreaks\nand\rsingle",
        "\r\nlf&",  // the line-break entities would swallow this one
        "&lf&&amp;&quot;",
        std::string("zero\0byte", 9),
        "\t\x01\x1f control",
        AllHighBytes(),
        std::string(5000, 'x'),  // longer than the loader's line window
    };
    TTempDir dir;
    std::vector<std::string> keys;
    {
        TSettingsStore store(dir.File("store.xml"));
        store.Load();
        for (size_t i = 0; i < values.size(); ++i) {
            keys.push_back("V" + std::to_string(i));
            ASSERT_TRUE(store.Write(7, Settings, keys.back(), values[i])) << i;
        }
        ASSERT_TRUE(store.Write(9, Settings, "Interval", "9"));
        ASSERT_TRUE(store.Write(3, Settings, "Interval", "3"));
        store.Save();
    }
    TSettingsStore back(dir.File("store.xml"));
    back.Load();
    EXPECT_EQ(back.Instances(), (std::vector<uint16_t>{3, 7, 9})) << "ascending, however the store grew";
    auto listed = back.Values(7);
    ASSERT_EQ(listed.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        std::string v = "untouched";
        EXPECT_TRUE(back.Read(7, Settings, keys[i], v)) << i;
        EXPECT_EQ(v, values[i]) << i;
        EXPECT_EQ(listed[i].Key, "Settings/" + keys[i]);
        EXPECT_EQ(listed[i].Value, values[i]) << i;
    }
    EXPECT_FALSE(back.Dirty());
}

TEST(SettingsStore, SaveReplacesTheFileAndLeavesNothingElse) {
    TTempDir dir;
    std::string file = dir.File("store.xml");
    TSettingsStore store(file);
    store.Load();
    ASSERT_TRUE(store.Write(1, Settings, "IPAddress", "127.0.0.1"));
    store.Save();
    // Any write bit makes a store writable, and it keeps its permissions, bit for bit.
    for (mode_t mode : {mode_t{0640}, mode_t{0460}}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(store.Write(1, Settings, "Interval", std::to_string(mode)));
        store.Save();
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
    ASSERT_TRUE(store.Write(1, Settings, "Interval", std::to_string(0460)));
    EXPECT_FALSE(store.Dirty()) << "the same value again changes nothing";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"store.xml"});
}

TEST(SettingsStore, LinksAreWrittenThroughAndReadOnlyStoresRefused) {
    TTempDir dir;
    ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
    const std::string target = dir.File("real/store.xml");
    const std::string link = dir.File("store.xml");
    ASSERT_EQ(::symlink("real/store.xml", link.c_str()), 0);  // relative, and dangling at first
    for (const char* interval : {"5", "6"}) {
        TSettingsStore store(link);
        store.Load();
        ASSERT_TRUE(store.Write(1, Settings, "Interval", interval));
        store.Save();
        struct stat st {};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
        TSettingsStore back(target);
        back.Load();
        ASSERT_EQ(back.Values(1).size(), 1u);
        EXPECT_EQ(back.Values(1)[0].Value, interval);
    }
    // A store made read-only is left as it is, with a clear error.
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    const std::string before = zeltest::ReadFile(target);
    TSettingsStore store(link);
    store.Load();
    ASSERT_TRUE(store.Write(1, Settings, "Interval", "7"));
    try {
        store.Save();
        FAIL() << "a read-only store was written";
    } catch (const EStoreError& e) {
        EXPECT_EQ(e.Message(), "cannot write " + link + ": the file is read-only; nothing was changed");
    }
    EXPECT_EQ(zeltest::ReadFile(target), before);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"real", "store.xml"}));
}

TEST(SettingsStore, FailedSaveLeavesNothingBehind) {
    TTempDir dir;
    // The folder does not exist: nothing can be created.
    TSettingsStore missing(dir.File("no/such/folder/store.xml"));
    missing.Load();
    ASSERT_TRUE(missing.Write(1, Settings, "Interval", "5"));
    EXPECT_THROW(missing.Save(), EStoreError);
    EXPECT_TRUE(missing.Dirty());
    // The target is a folder: the temporary file is written, then the rename fails.
    ASSERT_EQ(::mkdir(dir.File("occupied").c_str(), 0755), 0);
    TSettingsStore occupied(dir.File("occupied"));
    ASSERT_TRUE(occupied.Write(1, Settings, "Interval", "5"));
    EXPECT_THROW(occupied.Save(), EStoreError);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"occupied"});
}

TEST(SettingsStore, RefusesDocumentsThatAreNoStore) {
    const std::string good =
        "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n<SettingsStore>\r\n  <Instance ID=\"1\">\r\n"
        "    <Settings>\r\n      <IPAddress value=\"127.0.0.1\"/>\r\n      <Raw hex=\"0a1Ffe\"/>\r\n"
        "    </Settings>\r\n  </Instance>\r\n"
        "</SettingsStore>\r\n";
    const struct {
        const char* name;
        std::string document;
    } cases[] = {
        {"empty file", ""},
        {"plain text", "settings"},
        {"truncated", good.substr(0, good.size() / 2)},
        {"end tags lost", good.substr(0, good.find("</Settings>"))},
        {"crossed end tags", "<SettingsStore><Instance ID=\"1\"><S></Instance></S></SettingsStore>"},
        {"text after the end", good + "junk"},
        {"second top element", good + "<SettingsStore/>"},
        {"other top element", "<Config><Instance ID=\"1\"/></Config>"},
        {"instance without ID", "<SettingsStore><Instance/></SettingsStore>"},
        {"instance ID out of range", "<SettingsStore><Instance ID=\"65536\"/></SettingsStore>"},
        {"instance ID not canonical", "<SettingsStore><Instance ID=\"01\"/></SettingsStore>"},
        {"instance twice", "<SettingsStore><Instance ID=\"1\"/><Instance ID=\"1\"/></SettingsStore>"},
        {"key twice", "<SettingsStore><Instance ID=\"1\"><S><K value=\"a\"/><k value=\"b\"/></S></Instance></SettingsStore>"},
        {"value and hex", "<SettingsStore><Instance ID=\"1\"><S><K value=\"a\" hex=\"61\"/></S></Instance></SettingsStore>"},
        {"bad hex", "<SettingsStore><Instance ID=\"1\"><S><K hex=\"6\"/></S></Instance></SettingsStore>"},
        {"text in a key", "<SettingsStore><Instance ID=\"1\"><S><K>text</K></S></Instance></SettingsStore>"},
        {"invalid name", "<SettingsStore><Instance ID=\"1\"><S><9K value=\"a\"/></S></Instance></SettingsStore>"},
        {"zero byte", std::string("<SettingsStore>\0</SettingsStore>", 32)},
        {"byte order mark alone", Bom},
        {"byte order mark twice", Bom + Bom + "<SettingsStore/>"},
        {"UTF-16 byte order mark", "\xFF\xFE<SettingsStore/>"},
    };
    for (const auto& c : cases) {
        TSettingsStore store("unused.xml");
        EXPECT_THROW(store.LoadFromString(c.document), EStoreCorrupt) << c.name;
        EXPECT_TRUE(store.Values(1).empty()) << c.name;
    }
    const std::string accepted[] = {
        "<SettingsStore/>",
        "<SettingsStore></SettingsStore>",
        "<?xml version=\"1.0\"?>\n<!-- kept by hand -->\n<SettingsStore>\n</SettingsStore>\n",
        Bom + "<SettingsStore/>",
    };
    for (const std::string& document : accepted) {
        TSettingsStore store("unused.xml");
        EXPECT_NO_THROW(store.LoadFromString(document)) << document;
    }
    TSettingsStore store("unused.xml");
    store.LoadFromString(good);
    std::string v;
    EXPECT_TRUE(store.Read(1, Settings, "IPAddress", v));
    EXPECT_EQ(v, "127.0.0.1");
    EXPECT_TRUE(store.Read(1, Settings, "Raw", v));
    EXPECT_EQ(v, "\n\x1f\xfe") << "hex digits of either case";
}

TEST(SettingsStore, ReadsAndWritesRefuseNamesTheDocumentCannotHold) {
    TSettingsStore store("unused.xml");
    const std::vector<std::string_view> badPaths[] = {{""}, {"S 0"}, {"Settings", "a/b"}, {"<x>"}, {"1st"},
                                                      std::vector<std::string_view>(MaxSections + 1, "S")};
    for (const auto& path : badPaths) {
        EXPECT_FALSE(store.Write(1, path, "Key", "v"));
        std::string v = "untouched";
        EXPECT_FALSE(store.Read(1, path, "Key", v));
        EXPECT_EQ(v, "untouched");
    }
    const std::string tooLong(256, 'k');
    const std::string_view badKeys[] = {"", "a b", "k=v", "x\"y", "-k", tooLong};
    for (std::string_view key : badKeys)
        EXPECT_FALSE(store.Write(1, Settings, key, "v")) << key;
    EXPECT_FALSE(store.Dirty());
    EXPECT_TRUE(store.Instances().empty()) << "a refused write creates no elements";

    // The limits themselves are taken both ways: the longest name, the deepest path.
    const std::string longest(255, 'k');
    const std::vector<std::string_view> deepest(MaxSections, "S");
    ASSERT_TRUE(store.Write(1, deepest, longest, "v"));
    std::string v;
    EXPECT_TRUE(store.Read(1, deepest, longest, v));
    EXPECT_EQ(v, "v");
}

// Only a regular file of at most 64 MiB is read: a FIFO would wait for a writer, a device never end.
TEST(SettingsStore, LoadRefusesAnythingButARegularFileOfAtMost64MiB) {
    const std::string over = "it is larger than 64 MiB, the most a settings store may be";
    const struct {
        std::function<int(const char* file)> make;
        std::string error;  // after "cannot read FILE: "; empty: read (and corrupt, for zero bytes)
    } cases[] = {
        {[](const char* f) { return ::mkfifo(f, 0600); }, "it is a FIFO, not a regular file"},
        {[](const char* f) { return ::symlink("/dev/zero", f); }, "it is a character device, not a regular file"},
        {[](const char* f) { return zeltest::WriteFile(f, ""), ::truncate(f, kMaxStoreBytes + 1); }, over},
        {[](const char* f) { return zeltest::WriteFile(f, ""), ::truncate(f, kMaxStoreBytes); }, ""},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        const std::string file = dir.File("store.xml");
        ASSERT_EQ(c.make(file.c_str()), 0);
        TSettingsStore store(file);
        try {
            store.Load();
            ADD_FAILURE() << "loaded: " << c.error;
        } catch (const EStoreCorrupt&) {
            EXPECT_EQ(c.error, "") << "only the file at the limit is read";
        } catch (const EStoreError& e) {
            EXPECT_EQ(e.Message(), "cannot read " + file + ": " + c.error);
        }
    }
}

TEST(SettingsStore, AByteOrderMarkIsReadAndNotWrittenBack) {
    TTempDir dir;
    const std::string file = dir.File("store.xml");
    zeltest::WriteFile(file, Bom + "<SettingsStore/>");
    TSettingsStore store(file);
    store.Load();
    ASSERT_TRUE(store.Write(1, Settings, "Interval", "5"));
    store.Save();
    EXPECT_TRUE(zeltest::ReadFile(file).starts_with("<?xml"));
}

// The next writer of a store removes what killed writers of it left: files of its temporary
// name whose pid runs no more. Anything else in the folder stays.
TEST(SettingsStore, SaveRemovesTheTemporaryFilesOfKilledWritersOfThatStoreOnly) {
    zeltest::TChildProcess child({"/bin/true"});
    const std::string gone = std::to_string(child.Pid());
    ASSERT_FALSE(child.Wait(10000).TimedOut);
    const std::string mine = ".store.xml.zelhost-" + gone;
    const struct {
        std::string name;
        char kind;  // f file, d folder, l symbolic link
        bool removed;
    } cases[] = {
        {mine + "-12.tmp", 'f', true}, {mine + "-1.tmp", 'd', false}, {mine + "-2.tmp", 'l', false},
        {mine + "-0.tmp~", 'f', false},
        {".store.xml.zelhost-1-0.tmp", 'f', false},              // pid 1 runs
        {".other.xml.zelhost-" + gone + "-0.tmp", 'f', false},  // another store's
    };
    TTempDir dir;
    std::vector<std::string> kept = {"store.xml"};
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        if (c.kind == 'f') zeltest::WriteFile(path, "left");
        ASSERT_EQ(c.kind == 'd' ? ::mkdir(path.c_str(), 0700) : c.kind == 'l' ? ::symlink("x", path.c_str()) : 0, 0);
        if (!c.removed) kept.push_back(c.name);
    }
    std::sort(kept.begin(), kept.end());
    TSettingsStore store(dir.File("store.xml"));
    ASSERT_TRUE(store.Write(1, Settings, "Interval", "5"));
    store.Save();
    EXPECT_EQ(dir.Entries(), kept);
}
