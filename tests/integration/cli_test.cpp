// zelhost's command line as a separate process: set and get, a corrupt store, bad arguments and a
// module file that cannot be loaded; the MQTT options also in-process, for the fields they fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "Options.h"
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

TEST(ZelhostCommandLine, MqttOptionsOutsideTheirFormsAreUsageErrors) {
    TTempDir dir;
    const std::string s = dir.File("store.xml");
    // What follows `run --store S` (or a whole command line) | a fragment of the message
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--mqtt", "mqtt://h\x01"}, "a control byte or a blank"}, {{"--mqtt", "mqtt://"}, "the host is empty"},
        {{"--mqtt", "mqtt://h:0"}, "the port is not a number from 1 to 65535"},
        {{"--mqtt", "mqtt://h:1:2"}, "the port is not a number from 1 to 65535"},
        {{"--mqtt", "mqtt://h:65536"}, "the port is not a number from 1 to 65535"},
        {{"--mqtt", "ws://u:secret@h"}, "unknown scheme"}, {{"--mqtt", "mqtt://h*st"}, "the host is not a name"},
        {{"--mqtt", "mqtt://u:secret@h"}, "the password goes in ZELHOST_MQTT_PASSWORD or --mqtt-password-file"},
        {{"--mqtt", "mqtt://h/u:secret@x"}, "nothing may follow host:port"},
        {{"--mqtt", "mqtt://@h"}, "the user name before @ is empty"}, {{"--mqtt", "mqtt://[::1"}, "has no ]"},
        {{"--mqtt", "mqtt://[fe80::1%eth0]"}, "not an IPv6 address"},
        {{"--mqtt-prefix", "x"}, "--mqtt-prefix goes with --mqtt URL"},
        {{"--mqtt-discovery"}, "--mqtt-discovery goes with --mqtt URL"},
        {{"--mqtt", "mqtt://h", "--mqtt-cafile", "ca.pem"}, "--mqtt-cafile goes with an mqtts:// broker URL"},
        {{"--mqtt", "mqtts://h", "--mqtt-password-file", "pw"}, "needs a user in the broker URL"},
        {{"--mqtt", "mqtt://h", "--mqtt-client-id", "a\x01"}, "the client id is not UTF-8 text without control"},
        {{"--mqtt", "mqtt://h", "--mqtt", "mqtt://g"}, "--mqtt is given twice"},
        {{"--mqtt", "mqtt://h", "--mqtt-discovery", ""}, "--mqtt-discovery: the topic prefix is empty"},
        {{"page", "--module", Module, "--store", s, "--instance", "1", "--mqtt", "mqtt://h"}, "unknown option \"--mqtt\" for page"},
        {{"set", "--store", s, "--instance", "1", "--mqtt-prefix", "p", "A/B=1"}, "unknown option"},
    };
    // Both prefixes follow the rules of a topic's first levels.
    for (const char* option : {"--mqtt-prefix", "--mqtt-discovery"})
        for (const auto& [prefix, message] : std::initializer_list<std::pair<std::string, std::string>>{
                 {"a/+/b", "wildcards"}, {"a//b", "level is empty"}, {"a/", "level is empty"}, {"$x", "belong to the broker"},
                 {"a\tb", "without control bytes"}, {"a\xc2\x85", "without control bytes"},  // a C1 control
                 {"a\xc0\xaf", "not UTF-8"}, {std::string(32 * 1024 + 1, 'p'), "longer than 32 KiB"}})  // an overlong '/'
            cases.push_back({{"--mqtt", "mqtt://h", option, prefix}, message});
    for (auto [args, message] : cases) {
        if (args.front().starts_with("--")) args.insert(args.begin(), {"run", "--store", s});
        auto r = Zel(args);
        const std::string shown = Joined(args).substr(0, 200);
        EXPECT_EQ(r.ExitCode, 2) << shown << "\n" << r.Err;
        EXPECT_NE(r.Err.find(message), std::string::npos) << shown << "\n" << r.Err;
        EXPECT_NE(r.Err.find("usage:"), std::string::npos) << shown;
        EXPECT_EQ(r.Err.find("secret"), std::string::npos) << shown << ": a mistyped URL may hold the password";
        EXPECT_EQ(r.Out, "") << shown;
    }
    EXPECT_TRUE(dir.Entries().empty()) << "bad arguments touch no store";
}

TEST(ZelhostCommandLine, MqttOptionsInTheirFormsFillTheFields) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {  // after `run --store s.xml` | the fields, "|" between
        {{"--mqtt", "mqtt://h"}, "mqtt @h:1883 zelhost||||-"},
        {{"--mqtt", "MQTT://u@broker.home:1884"}, "mqtt u@broker.home:1884 zelhost||||-"},
        {{"--mqtt", "mQtTs://u@b@10.0.0.2:1"}, "mqtts u@b@10.0.0.2:1 zelhost||||-"},
        {{"--mqtt", "mqtt://[::1]:65535"}, "mqtt @::1:65535 zelhost||||-"},
        {{"--mqtt", "mqtt://my_box-1.local:0080"}, "mqtt @my_box-1.local:80 zelhost||||-"},
        {{"--mqtt", "mqtt://h", "--mqtt-prefix", "home/\xe2\x82\xac/a$b"}, "mqtt @h:1883 home/\xe2\x82\xac/a$b||||-"},
        {{"--mqtt", "mqtt://h", "--mqtt-discovery", "--jsonl"}, "mqtt @h:1883 zelhost||||homeassistant"},
        {{"--mqtt", "mqtts://u@h", "--mqtt-client-id", "pi kitchen", "--mqtt-cafile", "ca.pem", "--mqtt-password-file", "pw"},
         "mqtts u@h:8883 zelhost|pi kitchen|ca.pem|pw|-"},
    };
    for (auto [args, expected] : cases) {
        args.insert(args.begin(), {"run", "--store", "s.xml"});
        const zelhost::TCommandLine cl = zelhost::ParseCommandLine(args);
        ASSERT_TRUE(cl.Run.Mqtt) << Joined(args);
        const zelhost::TMqttOptions& o = *cl.Run.Mqtt;
        EXPECT_EQ(std::string(o.Tls ? "mqtts " : "mqtt ") + o.User + "@" + o.Host + ":" + std::to_string(o.Port) + " " +
                      o.Prefix + "|" + o.ClientId + "|" + o.CaFile + "|" + o.PasswordFile + "|" + o.DiscoveryPrefix.value_or("-"),
                  expected) << Joined(args);
        EXPECT_EQ(cl.Run.Json, args.back() == "--jsonl") << "an option is not taken for the discovery prefix";
    }
    EXPECT_FALSE(zelhost::ParseCommandLine({"run", "--store", "s.xml"}).Run.Mqtt);
}

TEST(ZelhostCommandLine, TheMqttPasswordComesFromItsFileOrTheEnvironment) {
    TTempDir dir;
    std::filesystem::create_directory(dir.File("folder"));
    // the file's contents ("@NAME": that entry of the folder) | ZELHOST_MQTT_PASSWORD (null: none) | user |
    // the password ("-": none; "!": an error with the rest of the text in it)
    const char* cases[][4] = {
        {"pw\n\n", nullptr, "u", "pw\n"}, {"pw\r\n", nullptr, "u", "pw"}, {"", nullptr, "u", ""}, {"from file", "from variable", "u", "from file"},
        {nullptr, "from variable", "u", "from variable"}, {nullptr, "", "u", "-"}, {nullptr, nullptr, "u", "-"},
        {nullptr, "from variable", "", "!the broker URL names no user"},
        {"@missing", "from variable", "u", "!cannot read the MQTT password file "}, {"@folder", nullptr, "u", "!/folder: Is a directory"},
    };
    for (const auto& [file, variable, user, password] : cases) {
        zelhost::TMqttOptions o;
        o.User = user;
        if (file) o.PasswordFile = dir.File(file[0] == '@' ? file + 1 : "password");
        if (file && file[0] != '@') WriteFile(o.PasswordFile, file);
        variable ? ::setenv("ZELHOST_MQTT_PASSWORD", variable, 1) : ::unsetenv("ZELHOST_MQTT_PASSWORD");
        std::string result;
        try {
            result = zelhost::LoadMqttPassword(o).value_or("-");
        } catch (const zel::Exception& e) {
            result = std::string("!") + e.what();
        }
        SCOPED_TRACE(std::string(file ? file : "(no file)") + " / " + (variable ? variable : "(unset)"));
        if (password[0] == '!') {
            EXPECT_NE(result.find(password + 1), std::string::npos) << result;
            EXPECT_EQ(result.find("from "), std::string::npos) << "never the password: " << result;
        } else {
            EXPECT_EQ(result, password);
        }
    }
    ::unsetenv("ZELHOST_MQTT_PASSWORD");
}
