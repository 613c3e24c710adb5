// The bridge's names without a broker: topic levels for variable names (no two names share one),
// node ids, command topics, log payloads, and which inputs count as bound. What a run publishes
// with them is read from a real broker (mqtt_run_test.cpp).
#include <gtest/gtest.h>

#include <QString>

#include <map>

#include "Discovery.h"
#include "Topics.h"

using namespace zelhost;

TEST(MqttTopicLevel, EscapesTheSpecialBytesAndConvertsTheRest) {
    const std::pair<std::string, std::string> cases[] = {  // Windows-1252 name | level
        {"Temp/1", "Temp%2F1"}, {"a+b#", "a%2Bb%23"}, {"%2F", "%252F"},  // a name's '%' is escaped itself
        {"Temp\xB0", "Temp\u00B0"}, {"\x80", "\u20AC"},
        {"\x81\x8D\x8F\x90\x9D", "%81%8D%8F%90%9D"},  // the unassigned bytes would all be U+FFFD
        {std::string("a\0b\t\x7F\x1F ", 7), "a%00b%09%7F%1F "},
        {"$SYS", "$SYS"},  // '$' is special only at the start of a topic, and this is its third level
    };
    for (const auto& [name, level] : cases) EXPECT_EQ(TopicLevel(name), level) << level;
}

// Every name of one or two bytes, and of three bytes that escapes are made of, gets a valid level
// of its own.
TEST(MqttTopicLevel, NoTwoNamesShareALevel) {
    std::vector<std::string> names;
    for (int a = 0; a < 256; ++a)
        for (int b = -1; b < 256; ++b) names.push_back(std::string(1, char(a)) + (b < 0 ? "" : std::string(1, char(b))));
    for (char a : std::string("%2F/\x81\xEF\xBF\xBD"))
        for (char b : std::string("%2F/\x81\xEF\xBF\xBD"))
            for (char c : std::string("%2F/\x81\xEF\xBF\xBD")) names.push_back({a, b, c});
    std::map<std::string, std::string> nameOf;
    for (const std::string& name : names) {
        const std::string level = TopicLevel(name);
        const QString text = QString::fromUtf8(level);
        bool valid = text.toStdString() == level;
        for (QChar ch : text) valid = valid && ch.category() != QChar::Other_Control && ch != '/' && ch != '+' && ch != '#';
        ASSERT_TRUE(valid) << level;
        auto [other, fresh] = nameOf.emplace(level, name);
        ASSERT_TRUE(fresh) << level << " for two names";
    }
}

TEST(MqttNames, NodeIdsCommandTopicsAndLogLines) {
    EXPECT_EQ(NodeId("zelhost-pi"), "zelhost-pi");
    EXPECT_EQ(NodeId("a.b"), "a_2Eb");
    EXPECT_EQ(NodeId("a_2Eb"), "a_5F2Eb");  // '_' escaped too, so the two stay apart
    EXPECT_EQ(NodeId("h\xC3\xA9"), "h_C3_A9");
    const std::pair<const char*, std::optional<uint16_t>> cases[] = {
        {"home/zel/instance/1/command", 1},  {"home/zel/instance/65535/command", 65535},
        {"home/zel/instance/65536/command", {}}, {"home/zel/instance/01/command", {}}, {"home/zel/instance/command", {}},
        {"home/zel/instance//command", {}},
        {"home/zel/instance/1/status", {}},  {"other/instance/1/command", {}}, {"home/zel/instance/1/x/command", {}},
    };
    for (const auto& [topic, instance] : cases) EXPECT_EQ(TTopics("home/zel").CommandInstance(topic), instance) << topic;
    EXPECT_EQ(LogPayload(10021, "ALL3000 #1", "T\xB0 \"q\""), R"({"code":10021,"sender":"ALL3000 #1","text":"T° \"q\""})");
}

TEST(MqttDiscovery, BoundInputsFollowTheModulesReadingOfTheType) {
    const struct {
        const char *varName, *deviceType;  // nullptr: not stored
        int type;                          // 0: not bound
    } cases[] = {{"T", "1", 1}, {"T", "6", 6}, {"T", "257", 1}, {"T", "+1", 0}, {"T", "0", 0},
                 {"T", "7", 0}, {"T", "x", 0}, {"", "1", 0},    {nullptr, "1", 0}, {"T", nullptr, 0}};
    for (const auto& c : cases) {
        std::vector<TSettingsStore::TValue> values{{"Settings/IPAddress", "127.0.0.1"}};
        if (c.varName) values.push_back({"Settings/S3/VarName", c.varName});
        if (c.deviceType) values.push_back({"Settings/S3/DeviceType", c.deviceType});
        std::string bound;  // "index type name" of each
        for (const TBoundInput& i : BoundInputs(values)) bound += std::to_string(i.Index) + " " + std::to_string(i.Type) + " " + i.Name;
        EXPECT_EQ(bound, c.type ? "3 " + std::to_string(c.type) + " " + c.varName : "") << c.deviceType;
    }
}
