// zelhost with the module, all3000-sim and a real broker: the values and discovery configs the
// bridge leaves retained, and the commands it takes, as any other MQTT client sees them.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

#include "Broker.h"
#include "Simulator.h"
#include "Zelhost.h"

using namespace zeltest;

namespace {

// The sim's inputs are of types 1,2,3,4,5,6,1,4; the first three names need escaping in a topic.
const std::vector<std::string> kBindings = {"Temp/1+#:1", "50%:2", "T\x81:3", "Window:4",
                                            "Volt:5",     "Energy:6", "T6:1",  "Door:4"};

struct TBridgeRig {
    TBroker Broker;
    TTempDir Dir;
    std::string Store = Dir.File("store.xml");  // as BoxStore names it

    std::vector<std::string> Run(std::vector<std::string> extra) const {
        std::vector<std::string> args = {Zelhost, "run", "--module", Module, "--store", Store, "--instance", "1",
                                         "--jsonl", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(Broker.Port()),
                                         "--mqtt-client-id", "rig"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::map<std::string, TMqttMessage> Retained(const std::string& filter) const {
        std::map<std::string, TMqttMessage> byTopic;
        for (TMqttMessage& m : Broker.Retained(filter)) byTopic[m.Topic] = m;
        return byTopic;
    }
};

QJsonObject Json(const std::string& payload) { return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object(); }
std::string Field(const QJsonObject& o, const char* key) { return o[key].toString().toStdString(); }

// Every entity of instance 1: its device, and online while zelhost is and the instance is connected.
void ExpectDeviceAndAvailability(const QJsonObject& config) {
    QJsonObject device = config["device"].toObject();
    EXPECT_EQ(device["identifiers"].toArray(), QJsonArray{"rig_i1"});
    EXPECT_EQ(Field(device, "name"), "ALL3000 #1");
    QJsonArray availability = config["availability"].toArray();
    ASSERT_EQ(availability.size(), 2);
    EXPECT_EQ(Field(availability[0].toObject(), "topic"), "zelhost/status");
    EXPECT_EQ(Field(availability[1].toObject(), "topic"), "zelhost/instance/1/status");
    EXPECT_EQ(Field(availability[1].toObject(), "value_template"), "{{ 'online' if value == '102' else 'offline' }}");
    EXPECT_EQ(Field(config, "availability_mode"), "all");
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// Reads the child's lines until one holds `needle`; false when none came for `timeoutMs`.
bool ReadUntil(TChildProcess& child, const std::string& needle, int timeoutMs) {
    std::string line;
    while (child.NextLine(line, timeoutMs))
        if (line.find(needle) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(ZelhostMqtt, ValuesAndDiscoveryOfEachSensorTypeWithNamesThatNeedEscaping) {
    TSimulator box;
    TBridgeRig rig;
    BoxStore(rig.Dir, box.Address(), kBindings);
    auto r = Plain(RunProcess(rig.Run({"--seconds", "2.5", "--mqtt-discovery", "ha"})));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;

    auto values = rig.Retained("zelhost/variable/#");
    // input | its variable's topic level | switch (ON/OFF) or float
    const struct {
        const char* level;
        bool isSwitch;
        const char* component;
        const char* deviceClass;
        const char* unit;
        const char* stateClass;
    } rows[] = {
        {"Temp%2F1%2B%23", false, "sensor", "temperature", "\u00B0C", "measurement"},
        {"50%25", false, "sensor", "atmospheric_pressure", "hPa", "measurement"},
        {"T%81", false, "sensor", "humidity", "%", "measurement"},
        {"Window", true, "binary_sensor", "", "", ""},
        {"Volt", false, "sensor", "", "", "measurement"},
        {"Energy", false, "sensor", "", "", "total_increasing"},
        {"T6", false, "sensor", "temperature", "\u00B0C", "measurement"},
        {"Door", true, "binary_sensor", "", "", ""},
    };
    EXPECT_EQ(values.size(), std::size(rows));
    auto configs = rig.Retained("ha/#");
    EXPECT_EQ(configs.size(), std::size(rows) + 1);  // and the button
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        const std::string stateTopic = std::string("zelhost/variable/") + row.level;
        ASSERT_TRUE(values.contains(stateTopic)) << stateTopic;
        const TMqttMessage& value = values[stateTopic];
        EXPECT_TRUE(value.Retain && value.Qos == 1) << stateTopic;
        if (row.isSwitch)
            EXPECT_TRUE(value.Payload == "ON" || value.Payload == "OFF") << value.Payload;
        else
            EXPECT_NO_THROW(std::stof(value.Payload)) << value.Payload;

        const std::string topic = std::string("ha/") + row.component + "/rig/i1_s" + std::to_string(i) + "/config";
        ASSERT_TRUE(configs.contains(topic)) << topic;
        EXPECT_TRUE(configs[topic].Retain) << topic;
        QJsonObject config = Json(configs[topic].Payload);
        EXPECT_EQ(Field(config, "state_topic"), stateTopic) << "the config points at the value's topic";
        EXPECT_EQ(Field(config, "unique_id"), "rig_i1_s" + std::to_string(i));
        EXPECT_EQ(Field(config, "device_class"), row.deviceClass) << topic;
        EXPECT_EQ(Field(config, "unit_of_measurement"), row.unit) << topic;
        EXPECT_EQ(Field(config, "state_class"), row.stateClass) << topic;
        EXPECT_EQ(Field(config, "payload_on"), row.isSwitch ? "ON" : "") << topic;
        ExpectDeviceAndAvailability(config);
    }
    QJsonObject button = Json(configs["ha/button/rig/i1_update/config"].Payload);
    EXPECT_EQ(Field(button, "name"), "Update now");
    EXPECT_EQ(Field(button, "unique_id"), "rig_i1_update");
    EXPECT_EQ(Field(button, "command_topic"), "zelhost/instance/1/command");
    EXPECT_EQ(Field(button, "payload_press"), "update");
    ExpectDeviceAndAvailability(button);
    EXPECT_EQ(rig.Retained("zelhost/instance/1/status")["zelhost/instance/1/status"].Payload, "102");

    // The next run, with the pressure input unbound: its config is cleared, the others stay.
    ASSERT_EQ(Zel({"set", "--store", rig.Store, "--instance", "1", "Settings/S1/VarName="}).ExitCode, 0);
    r = Plain(RunProcess(rig.Run({"--seconds", "0.5", "--mqtt-discovery", "ha"})));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    configs = rig.Retained("ha/#");
    EXPECT_EQ(configs.size(), std::size(rows));
    EXPECT_FALSE(configs.contains("ha/sensor/rig/i1_s1/config"));
    EXPECT_TRUE(configs.contains("ha/sensor/rig/i1_s2/config"));
}

TEST(ZelhostMqtt, CommandsRunAndWaitTheirTurnAtMostOneOfAKind) {
    // box delay (ms) | command lines | updates | detections | "already queued" | "ignored"
    const struct {
        const char* delayMs;
        std::vector<std::string> commands;
        size_t updates;
        size_t detections;
        size_t queuedNotices;
        size_t ignoredNotices;
    } rows[] = {
        {"0", {"xyz", "update"}, 1, 0, 0, 1},
        // The first update waits for the slow box processing messages: the rest arrive meanwhile.
        {"700", {"update", "update", "update", "detect", "detect", "xyz"}, 2, 1, 2, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commands.size());
        TSimulator box({"--delay", row.delayMs});
        TBridgeRig rig;
        // Types 0 until a detection sets them; no update of its own within the test.
        BoxStore(rig.Dir, box.Address(), {"A:0", "B:0", "C:0", "D:0"}, 1, 3600);
        TChildProcess zelhost(rig.Run({"--mqtt-discovery"}));
        // The bridge takes commands once it is subscribed: probe until it answers one.
        bool ready = false;
        for (int i = 0; i < 50 && !ready; ++i) {
            rig.Broker.Publish("zelhost/instance/1/command", {"probe"});
            ready = ReadUntil(zelhost, R"(command \"probe\" ignored)", 200);
        }
        ASSERT_TRUE(ready);
        const size_t from = zelhost.Output().size();
        rig.Broker.Publish("zelhost/instance/1/command", row.commands);
        // The last command to finish says so.
        const std::string last = row.detections ? "sensors detected and saved" : R"("text":"Updating...")";
        for (size_t n = row.detections ? row.detections : row.updates; n > 0; --n) ASSERT_TRUE(ReadUntil(zelhost, last, 10000));
        zelhost.Signal(SIGTERM);
        auto r = Plain(zelhost.Wait(20000));
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        const std::string out = r.Out.substr(from);
        EXPECT_EQ(Count(out, R"("text":"Updating...")"), row.updates) << out;
        EXPECT_EQ(Count(out, "sensors detected and saved"), row.detections) << out;
        EXPECT_EQ(Count(out, "is already queued"), row.queuedNotices) << out;
        EXPECT_EQ(Count(out, R"(command \"xyz\" ignored)"), row.ignoredNotices) << out;
        if (row.detections) {
            // The box's types saved, and the configs of the now bound inputs published.
            EXPECT_NE(Zel({"get", "--store", rig.Store, "--instance", "1"}).Out.find("Settings/S3/DeviceType=4"),
                      std::string::npos);
            EXPECT_TRUE(rig.Retained("homeassistant/#").contains("homeassistant/binary_sensor/rig/i1_s3/config"));
        }
    }
}
