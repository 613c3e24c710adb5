// The bridge's names and payloads without a broker: topic levels for variable names (every name
// its own level, decoded back by a plain reference decoder, so no two names share one), node ids,
// command topics, and which inputs count as bound. The discovery configs themselves are read from
// a real broker (mqtt_run_test.cpp).
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>

#include "Discovery.h"
#include "Topics.h"
#include "platform/TextUtils.h"

using namespace zelhost;

namespace {

// A level back to the name's bytes, independently of TopicLevel: %XX is a byte, anything else one
// UTF-8 character that must be the conversion of exactly one byte that is not escaped. Nothing
// when the level is not of that form (a '/', '+', '#', control character or stray byte in it).
std::optional<std::string> Decode(const std::string& level) {
    static const std::map<std::string, char> plain = [] {
        std::map<std::string, char> m;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const bool escaped = b < 0x20 || b == 0x7F || b == '%' || b == '/' || b == '+' || b == '#' || b == 0x81 ||
                                 b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
            if (!escaped) m[zel::Win1252ToUtf8(std::string_view(&c, 1))] = c;
        }
        return m;
    }();
    std::string name;
    for (size_t i = 0; i < level.size();) {
        if (level[i] == '%') {
            if (i + 3 > level.size()) return std::nullopt;
            const std::string hex = level.substr(i + 1, 2);
            if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) return std::nullopt;
            name += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 3;
            continue;
        }
        const auto lead = static_cast<unsigned char>(level[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xE0 ? 3 : 2;
        auto found = plain.find(level.substr(i, length));
        if (found == plain.end()) return std::nullopt;
        name += found->second;
        i += length;
    }
    return name;
}

}  // namespace

TEST(MqttTopicLevel, EscapesTheSpecialBytesAndConvertsTheRest) {
    const struct {
        std::string name;  // Windows-1252
        std::string level;
    } cases[] = {
        {"Temp/1", "Temp%2F1"},
        {"a+b#", "a%2Bb%23"},
        {"%2F", "%252F"},  // not "/" escaped: the '%' of a name is escaped itself
        {"Temp\xB0", "Temp\u00B0"},
        {"\x80", "\u20AC"},
        {"\x81\x8D\x8F\x90\x9D", "%81%8D%8F%90%9D"},  // the unassigned bytes would all be U+FFFD
        {std::string("a\0b\t\x7F\x1F ", 7), "a%00b%09%7F%1F "},
        {"$SYS", "$SYS"},  // '$' is special only at the start of a topic, and this is its third level
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TopicLevel(c.name), c.level) << c.level;
        EXPECT_EQ(Decode(c.level), c.name) << c.level;
    }
}

TEST(MqttTopicLevel, EveryByteAndRandomNamesDecodeBack) {
    std::set<std::string> levels;
    for (int b = 0; b < 256; ++b) {
        const std::string name(1, static_cast<char>(b));
        const std::string level = TopicLevel(name);
        EXPECT_EQ(Decode(level), name) << b;
        levels.insert(level);
    }
    EXPECT_EQ(levels.size(), 256u);
    std::mt19937 random(18);
    for (int n = 0; n < 10000; ++n) {
        std::string name(random() % 12 + 1, '\0');
        for (char& c : name) c = static_cast<char>(random() % 256);
        ASSERT_EQ(Decode(TopicLevel(name)), name);
    }
}

TEST(MqttNames, NodeIdsAndCommandTopics) {
    EXPECT_EQ(NodeId("zelhost-pi"), "zelhost-pi");
    EXPECT_EQ(NodeId("a.b"), "a_2Eb");
    EXPECT_EQ(NodeId("a_2Eb"), "a_5F2Eb");  // '_' escaped too, so the two stay apart
    EXPECT_EQ(NodeId("h\xC3\xA9"), "h_C3_A9");

    const TTopics topics("home/zel");
    const struct {
        const char* topic;
        std::optional<uint16_t> instance;
    } cases[] = {
        {"home/zel/instance/1/command", 1},
        {"home/zel/instance/65535/command", 65535},
        {"home/zel/instance/65536/command", std::nullopt},
        {"home/zel/instance/01/command", std::nullopt},
        {"home/zel/instance/command", std::nullopt},
        {"home/zel/instance/1/status", std::nullopt},
        {"other/instance/1/command", std::nullopt},
        {"home/zel/instance/1/x/command", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(topics.CommandInstance(c.topic), c.instance) << c.topic;
    EXPECT_EQ(LogPayload(10021, "ALL3000 #1", "T\xB0 \"q\""),
              R"({"code":10021,"sender":"ALL3000 #1","text":"T° \"q\""})");
}

TEST(MqttDiscovery, BoundInputsFollowTheModulesReadingOfTheType) {
    const struct {
        const char* varName;  // nullptr: no VarName stored
        const char* deviceType;
        int type;  // 0: not bound
    } cases[] = {
        {"T", "1", 1}, {"T", "6", 6}, {"T", "257", 1}, {"T", "+1", 0}, {"T", "0", 0}, {"T", "7", 0},
        {"T", "x", 0}, {"", "1", 0},  {nullptr, "1", 0}, {"T", nullptr, 0},
    };
    for (const auto& c : cases) {
        std::vector<TSettingsStore::TValue> values{{"Settings/IPAddress", "127.0.0.1"}};
        if (c.varName) values.push_back({"Settings/S3/VarName", c.varName});
        if (c.deviceType) values.push_back({"Settings/S3/DeviceType", c.deviceType});
        auto inputs = BoundInputs(values);
        ASSERT_EQ(inputs.size(), c.type ? 1u : 0u) << c.deviceType;
        if (c.type) {
            EXPECT_EQ(inputs[0].Index, 3);
            EXPECT_EQ(inputs[0].Type, c.type);
            EXPECT_EQ(inputs[0].Name, c.varName);
        }
    }
}
