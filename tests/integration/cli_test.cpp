// zelhost's command line as a separate process: set and get, a corrupt store, bad arguments and a
// module file that cannot be loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Process.h"
#include "Zelhost.h"

using namespace zeltest;

namespace {

std::string Joined(const std::vector<std::string>& args) {
    std::string r;
    for (const auto& a : args) r += (r.empty() ? "" : " ") + a;
    return r;
}

}  // namespace

TEST(ZelhostCommandLine, SetAndGetKeepAwkwardValuesExactly) {
    TTempDir dir;
    std::string store = dir.File("store.xml");
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
    std::vector<std::pair<std::string, std::string>> values = {
        {"Settings/IPAddress", "127.0.0.1"},
        {"Settings/S0/VarName", "  spaces at both ends  "},
        {"Settings/S1/VarName", "\"double\" and 'single' quotes"},
        {"Settings/S2/VarName", "a & b <c> &amp; &lf&"},
        {"Settings/S3/VarName", "CR LF\r\ninside\r\n"},
        {"Settings/S4/VarName", high},
        {"Settings/S5/VarName", ""},
        {"Settings/S6/VarName", "x=y=z"},
        {[] {
             std::string key;
             for (int i = 0; i < 64; ++i) key += "S/";
             return key + "K";
         }(),
         "as deep as the store takes"},
    };
    auto setAll = [&] {
        std::vector<std::string> args = {"set", "--store", store, "--instance", "65535"};
        std::string expected;
        for (const auto& [key, value] : values) {
            args.push_back(key + "=" + value);
            expected += key + "=" + value + "\n";
        }
        auto set = Zel(args);
        EXPECT_EQ(set.ExitCode, 0) << set.Err;
        return expected;
    };
    std::string expected = setAll();
    auto get = Zel({"get", "--store", store, "--instance", "65535"});
    ASSERT_EQ(get.ExitCode, 0) << get.Err;
    EXPECT_EQ(get.Out, expected);

    // Another set replaces what it names and keeps the rest, in place.
    values[6].second = " T5 ";  // Settings/S5/VarName
    auto set = Zel({"set", "--store", store, "--instance", "65535", "Settings/S5/VarName= T5 "});
    ASSERT_EQ(set.ExitCode, 0) << set.Err;
    get = Zel({"get", "--store", store, "--instance", "65535"});
    std::string changed;
    for (const auto& [key, value] : values) changed += key + "=" + value + "\n";
    EXPECT_EQ(get.Out, changed);

    get = Zel({"get", "--store", store, "--instance", "0"});
    EXPECT_EQ(get.ExitCode, 0);
    EXPECT_EQ(get.Out, "") << "other instances see nothing";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"store.xml"});
}

TEST(ZelhostCommandLine, AnEmptyFileIsAnEmptyStore) {
    TTempDir dir;
    std::string store = dir.File("store.xml");
    WriteFile(store, "");
    EXPECT_EQ(Zel({"get", "--store", store, "--instance", "1"}).ExitCode, 0);
    auto set = Zel({"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.1"});
    EXPECT_EQ(set.ExitCode, 0) << set.Err;
    EXPECT_EQ(Zel({"get", "--store", store, "--instance", "1"}).Out, "Settings/IPAddress=127.0.0.1\n");
}

TEST(ZelhostCommandLine, CorruptStoreIsAnErrorAndStaysAsItIs) {
    const std::string corrupt[] = {
        "not a settings store",
        "<?xml version=\"1.0\"?>\r\n<SettingsStore>\r\n  <Instance ID=\"1\">\r\n    <Settings>\r\n",
        "<Other/>",
    };
    const std::vector<std::vector<std::string>> commands = {
        {"set", "--store", "@", "--instance", "1", "Settings/IPAddress=127.0.0.1"},
        {"get", "--store", "@", "--instance", "1"},
        {"run", "--module", Module, "--store", "@", "--instance", "1", "--seconds", "0", "--jsonl"},
    };
    for (const std::string& content : corrupt) {
        for (std::vector<std::string> args : commands) {
            TTempDir dir;
            std::string store = dir.File("store.xml");
            WriteFile(store, content);
            std::replace(args.begin(), args.end(), std::string("@"), store);
            auto r = Zel(args);
            EXPECT_EQ(r.ExitCode, 1) << Joined(args);
            EXPECT_NE(r.Err.find("corrupt"), std::string::npos) << r.Err;
            EXPECT_EQ(r.Out, "") << "nothing ran";
            EXPECT_EQ(ReadFile(store), content);
            EXPECT_EQ(dir.Entries(), std::vector<std::string>{"store.xml"});
        }
    }
}

TEST(ZelhostCommandLine, BadArgumentsGiveTheUsageAndExitCode2) {
    TTempDir dir;
    std::string s = dir.File("store.xml");
    const std::vector<std::string> run = {"run", "--module", Module, "--store", s, "--instance", "1"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = run;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"start"},
        {"run", "--module", Module, "--instance", "1"},
        {"page", "--module", Module, "--store", s},
        {"page", "--module", Module, "--store", s, "--instance", "all"},
        {"set", "--store", s, "--instance", "all", "Settings/IPAddress=1"},
        {"run", "--module", "--store", s, "--instance", "1"},
        {"run", "--module", Module, "--store", s, "--instance", "65536"},
        {"run", "--module", Module, "--store", s, "--instance", "-1"},
        {"run", "--module", Module, "--store", s, "--instance", "1,,2"},
        {"run", "--module", Module, "--store", s, "--instance", "one"},
        {"run", "--module", Module, "--store", s, "--instance", "1,1"},
        with({"--seconds", "soon"}),
        with({"--seconds", "-1"}),
        with({"--seconds", "1e3"}),
        with({"--seconds"}),
        with({"--kernel-state", "10013x"}),
        with({"--kernel-state", "4294967296"}),
        with({"--kernel-state", "+10013"}),
        with({"--refuse", "settings,network"}),
        with({"--refuse", "settings,"}),
        with({"--verbose"}),
        with({"--module=other.so"}),
        with({"--jsonl", "--jsonl"}),
        with({"extra"}),
        {"page", "--module", Module, "--store", s, "--instance", "1", "--kernel-state", "0", "--click", "btnApply"},
        {"detect", "--store", s, "--instance", "1"},
        {"detect", "--module", Module, "--store", s, "--instance", "1,2"},
        {"detect", "--module", Module, "--store", s, "--instance", "1", "--seconds", "1"},
        {"detect", "--module", Module, "--store", s, "--instance", "1", "--click", "btnApply"},
        {"set", "--store", s, "--instance", "1"},
        {"set", "--store", s, "--instance", "1", "Settings/IPAddress"},
        {"set", "--store", s, "--instance", "1", "IPAddress=127.0.0.1"},
        {"set", "--store", s, "--instance", "1", "Settings//IPAddress=1"},
        {"set", "--store", s, "--instance", "1", "Settings/IP Address=1"},
        {"set", "--store", s, "--instance", "1", "Settings/S0/=1"},
        {"set", "--store", s, "--instance", "1,2", "Settings/IPAddress=1"},
        {"set", "--store", s, "--instance", "1", "--module", Module, "Settings/IPAddress=1"},
        {"get", "--store", s, "--instance", "70000"},
        {"get", "--store", s},
        {"get", "--instance", "1"},
        {"get", "--store", s, "--instance", "1", "Settings/IPAddress=1"},
        {"set", "--store", s, "--instance", "1", [] {
             std::string key;
             for (int i = 0; i < 65; ++i) key += "S/";
             return key + "K=1";
         }()},  // deeper than the store takes
    };
    for (const auto& args : cases) {
        auto r = Zel(args);
        EXPECT_EQ(r.ExitCode, 2) << Joined(args) << "\n" << r.Err;
        EXPECT_NE(r.Err.find("usage:"), std::string::npos) << Joined(args);
        EXPECT_EQ(r.Out, "") << Joined(args);
    }
    EXPECT_TRUE(dir.Entries().empty()) << "bad arguments touch no store";
}

TEST(ZelhostCommandLine, ModuleThatCannotBeLoadedIsAClearError) {
    TTempDir dir;
    WriteFile(dir.File("empty.so"), "");
    const struct {
        std::string module;
        const char* message;
    } cases[] = {
        {dir.File("missing.so"), "No such file"},
        {dir.File("empty.so"), "cannot load module"},
        {ZELHOST_NO_ENTRY, "does not export ZELModuleInfo"},
        {dir.Path(), "is a directory"},
    };
    for (const auto& c : cases) {
        // The longest run there is: the module's failure ends it at once.
        auto r = Zel({"run", "--module", c.module, "--store", dir.File("store.xml"), "--instance", "1", "--seconds",
                      "2000000", "--jsonl"});
        EXPECT_EQ(r.ExitCode, 1) << c.module;
        EXPECT_NE(r.Err.find(c.message), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"empty.so"}) << "no store was written";
}
