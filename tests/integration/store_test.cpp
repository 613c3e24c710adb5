// The settings store on its own: values survive the file byte for byte, writing is atomic, and
// anything that is not a store is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

// Only a regular file of at most 64 MiB is read: a device would never end.
TEST(SettingsStore, LoadRefusesADeviceAndAFileOver64MiB) {
    TTempDir dir;
    const std::string device = dir.File("device.xml"), large = dir.File("large.xml");
    zeltest::WriteFile(large, "");
    ASSERT_EQ(::symlink("/dev/zero", device.c_str()) | ::truncate(large.c_str(), kMaxStoreBytes + 1), 0);
    for (const auto& [file, error] : {std::pair{device, "it is a character device, not a regular file"},
                                      {large, "it is larger than 64 MiB, the most a settings store may be"}}) {
        try {
            TSettingsStore(file).Load();
            ADD_FAILURE() << "loaded " << file;
        } catch (const EStoreError& e) {
            EXPECT_EQ(e.Message(), "cannot read " + file + ": " + error);
        }
    }
}

// The next writer of a store removes the temporary files that killed writers of it left; anything
// else stays: a folder or a link of that name, a running writer's file, another store's.
TEST(SettingsStore, SaveRemovesTheTemporaryFilesOfKilledWritersOfThatStoreOnly) {
    zeltest::TChildProcess child({"/bin/true"});
    const std::string gone = ".store.xml.zelhost-" + std::to_string(child.Pid());
    ASSERT_FALSE(child.Wait(10000).TimedOut);
    TTempDir dir;
    zeltest::WriteFile(dir.File(gone + "-12.tmp"), "left");
    ASSERT_EQ(::mkdir(dir.File(gone + "-1.tmp").c_str(), 0700) | ::symlink("x", dir.File(gone + "-2.tmp").c_str()), 0);
    std::vector<std::string> kept = {".other.xml.zelhost-" + gone.substr(19) + "-0.tmp", ".store.xml.zelhost-1-0.tmp"};
    for (const std::string& name : kept) zeltest::WriteFile(dir.File(name), "left");
    kept.insert(kept.end(), {gone + "-1.tmp", gone + "-2.tmp", "store.xml"});
    std::sort(kept.begin(), kept.end());
    TSettingsStore store(dir.File("store.xml"));
    ASSERT_TRUE(store.Write(1, Settings, "Interval", "5"));
    store.Save();
    EXPECT_EQ(dir.Entries(), kept);
}
