// zelhost with the module, all3000-sim and a real broker, as any other MQTT client sees it: the
// values and discovery configs it leaves retained, the commands it takes, and how it meets a broker
// that is late, restarts, refuses the login, speaks TLS or never answers.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "Broker.h"
#include "Simulator.h"
#include "Zelhost.h"

using namespace zeltest;
using TClock = std::chrono::steady_clock;

namespace {

constexpr int kWaitMs = 10000;
const std::string kUpdating = R"("text":"Updating...")";

struct TBridgeRig {
    explicit TBridgeRig(TBrokerConfig config = {}, bool start = true) : Broker(std::move(config), start) {}
    TBroker Broker;
    TTempDir Dir;
    std::string Store = Dir.File("store.xml");  // as BoxStore names it

    // `url` and `extra` with PORT as the broker's port and CA as the test CA's file.
    std::vector<std::string> Run(std::vector<std::string> extra, std::string url = "mqtt://127.0.0.1:PORT") const {
        extra.insert(extra.begin(), {"--mqtt", url});
        for (std::string& a : extra) a = Expand(a);
        extra.insert(extra.begin(), {Zelhost, "run", "--module", Module, "--store", Store, "--jsonl", "--mqtt-client-id", "rig"});
        return extra;
    }
    std::string Expand(std::string text) const {
        for (const auto& [from, to] : {std::pair{"PORT", std::to_string(Broker.Port())}, {"CA", TBroker::CaFile()}})
            if (auto at = text.find(from); at != std::string::npos) text.replace(at, std::string(from).size(), to);
        return text;
    }
    // Waits until `topic` is retained with `payload` (empty: any).
    bool Holds(const std::string& topic, const std::string& payload = "") const {
        for (auto deadline = TClock::now() + std::chrono::milliseconds(kWaitMs); TClock::now() < deadline;) {
            auto retained = Broker.Retained(topic);
            if (retained.contains(topic) && (payload.empty() || retained[topic].Payload == payload)) return true;
        }
        return false;
    }
    // Publishes a command the bridge ignores until it says so: from then on it takes commands.
    bool TakesCommands(TChildProcess& zelhost) const {
        for (int i = 0; i < 50; ++i) {
            Broker.Publish("zelhost/instance/1/command", {"probe"});
            if (ReadUntil(zelhost, R"(command \"probe\" ignored)", 200)) return true;
        }
        return false;
    }
    // Reads the child's lines until one holds `needle`; false when none did within `timeoutMs`.
    static bool ReadUntil(TChildProcess& child, const std::string& needle, int timeoutMs = kWaitMs) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        while (child.NextLine(line, static_cast<int>((deadline - TClock::now()) / std::chrono::milliseconds(1))))
            if (line.find(needle) != std::string::npos) return true;
        return false;
    }
};

QJsonObject Json(const std::string& payload) { return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object(); }
std::string Field(const QJsonObject& o, const char* key) { return o[key].toString().toStdString(); }

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(ZelhostMqtt, ValuesAndDiscoveryOfEachSensorTypeWithNamesThatNeedEscaping) {
    TSimulator box;  // its inputs are of types 1,2,3,4,5,6,1,4
    TBridgeRig rig;
    BoxStore(rig.Dir, box.Address(), {"Temp/1+#:1", "50%:2", "T\x81:3", "Window:4", "Volt:5", "Energy:6", "T6:1", "Door:4"});
    auto r = Plain(RunProcess(rig.Run({"--seconds", "2.5", "--mqtt-discovery", "ha"})));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    // the variable's topic level | switch or float | component, device class, unit, state class
    const struct {
        const char *level, *component, *deviceClass, *unit, *stateClass;
    } rows[] = {
        {"Temp%2F1%2B%23", "sensor", "temperature", "\u00B0C", "measurement"},
        {"50%25", "sensor", "atmospheric_pressure", "hPa", "measurement"},
        {"T%81", "sensor", "humidity", "%", "measurement"},
        {"Window", "binary_sensor", "", "", ""},
        {"Volt", "sensor", "", "", "measurement"},
        {"Energy", "sensor", "", "", "total_increasing"},
        {"T6", "sensor", "temperature", "\u00B0C", "measurement"},
        {"Door", "binary_sensor", "", "", ""},
    };
    auto values = rig.Broker.Retained("zelhost/variable/#");
    auto configs = rig.Broker.Retained("ha/#");
    EXPECT_EQ(values.size(), std::size(rows));
    EXPECT_EQ(configs.size(), std::size(rows) + 1);  // and the button
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        const bool isSwitch = row.component == std::string("binary_sensor");
        const std::string stateTopic = std::string("zelhost/variable/") + row.level;
        const TMqttMessage& value = values[stateTopic];
        EXPECT_TRUE(value.Retain && value.Qos == 1) << stateTopic;
        if (isSwitch)
            EXPECT_TRUE(value.Payload == "ON" || value.Payload == "OFF") << stateTopic << "=" << value.Payload;
        else
            EXPECT_NO_THROW(std::stof(value.Payload)) << stateTopic << "=" << value.Payload;
        const std::string topic = std::string("ha/") + row.component + "/rig/i1_s" + std::to_string(i) + "/config";
        QJsonObject config = Json(configs[topic].Payload);
        EXPECT_EQ(Field(config, "state_topic"), stateTopic) << topic;
        EXPECT_EQ(Field(config, "unique_id"), "rig_i1_s" + std::to_string(i));
        EXPECT_EQ(Field(config, "device_class"), row.deviceClass) << topic;
        EXPECT_EQ(Field(config, "unit_of_measurement"), row.unit) << topic;
        EXPECT_EQ(Field(config, "state_class"), row.stateClass) << topic;
        EXPECT_EQ(Field(config, "payload_on"), isSwitch ? "ON" : "") << topic;
    }
    QJsonObject button = Json(configs["ha/button/rig/i1_update/config"].Payload);
    EXPECT_EQ(Field(button, "name"), "Update now");
    EXPECT_EQ(Field(button, "unique_id"), "rig_i1_update");
    EXPECT_EQ(Field(button, "command_topic"), "zelhost/instance/1/command");
    EXPECT_EQ(Field(button, "payload_press"), "update");
    // Every entity: its device, and online while zelhost is and the instance is connected.
    for (const auto& [topic, config] : configs) {
        QJsonObject o = Json(config.Payload), device = o["device"].toObject();
        EXPECT_TRUE(config.Retain) << topic;
        EXPECT_EQ(device["identifiers"].toArray(), QJsonArray{"rig_i1"}) << topic;
        EXPECT_EQ(Field(device, "name"), "ALL3000 #1") << topic;
        QJsonArray availability = o["availability"].toArray();
        ASSERT_EQ(availability.size(), 2) << topic;
        EXPECT_EQ(Field(availability[0].toObject(), "topic"), "zelhost/status");
        EXPECT_EQ(Field(availability[1].toObject(), "topic"), "zelhost/instance/1/status");
        EXPECT_EQ(Field(availability[1].toObject(), "value_template"), "{{ 'online' if value == '102' else 'offline' }}");
        EXPECT_EQ(Field(o, "availability_mode"), "all");
    }
    EXPECT_EQ(rig.Broker.Retained("zelhost/instance/1/status")["zelhost/instance/1/status"].Payload, "102");

    // The next run, with the pressure input unbound: its config is cleared, the others stay.
    ASSERT_EQ(Zel({"set", "--store", rig.Store, "--instance", "1", "Settings/S1/VarName="}).ExitCode, 0);
    r = Plain(RunProcess(rig.Run({"--seconds", "0.5", "--mqtt-discovery", "ha"})));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    configs = rig.Broker.Retained("ha/#");
    EXPECT_EQ(configs.size(), std::size(rows));
    EXPECT_FALSE(configs.contains("ha/sensor/rig/i1_s1/config"));
}

TEST(ZelhostMqtt, CommandsRunAndWaitTheirTurnAtMostOneOfAKind) {
    // box delay (ms) | command lines | updates | detections | "already queued" | "ignored"
    const struct {
        const char* delayMs;
        std::vector<std::string> commands;
        size_t updates, detections, queuedNotices, ignoredNotices;
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
        ASSERT_TRUE(rig.TakesCommands(zelhost));
        const size_t from = zelhost.Output().size();
        rig.Broker.Publish("zelhost/instance/1/command", row.commands);
        // The last command to finish says so.
        const std::string last = row.detections ? "sensors detected and saved" : kUpdating;
        for (size_t n = row.detections ? row.detections : row.updates; n > 0; --n) ASSERT_TRUE(rig.ReadUntil(zelhost, last));
        zelhost.Signal(SIGTERM);
        auto r = Plain(zelhost.Wait(20000));
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        const std::string out = r.Out.substr(from);
        EXPECT_EQ(Count(out, kUpdating), row.updates) << out;
        EXPECT_EQ(Count(out, "sensors detected and saved"), row.detections) << out;
        EXPECT_EQ(Count(out, "is already queued"), row.queuedNotices) << out;
        EXPECT_EQ(Count(out, R"(command \"xyz\" ignored)"), row.ignoredNotices) << out;
        if (row.detections) {
            // The box's types saved, and the configs of the now bound inputs published.
            EXPECT_NE(Zel({"get", "--store", rig.Store, "--instance", "1"}).Out.find("Settings/S3/DeviceType=4"),
                      std::string::npos);
            EXPECT_TRUE(rig.Broker.Retained("homeassistant/#").contains("homeassistant/binary_sensor/rig/i1_s3/config"));
        }
    }
}

namespace {

// A listener whose queue is full: the kernel drops further connects, which then hang for minutes.
struct TDeafPort {
    int Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), Fillers[2] = {-1, -1};
    uint16_t Port = 0;
    TDeafPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(Listener, 0) != 0 ||
            ::getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "no listener";
        Port = ntohs(a.sin_port);
        for (int& f : Fillers) {
            f = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
    ~TDeafPort() {
        for (int f : {Fillers[0], Fillers[1], Listener}) ::close(f);
    }
};

// What a run does once its notices came (in this order, others between; PORT and CA expanded).
enum class TStep {
    Stop,        // values retained; SIGTERM leaves `offline`
    Kill,        // values retained; SIGKILL: the last will says `offline`
    LateBroker,  // the broker starts now: values follow
    Restart,     // the broker restarts empty: the retained state comes again, commands still work
    Alive,       // no connection: the instance keeps its interval, the retries go on
    Deaf,        // the broker's address drops the connect: a stop still ends in time
};

struct TLinkCase {
    const char* name;
    bool login, tls;  // the broker takes only kBrokerUser with "s3cret"; TLS
    std::string url;
    std::vector<std::string> args;
    const char* password;  // in ZELHOST_MQTT_PASSWORD, never to be shown
    std::vector<std::string> notices;
    TStep step;
};

const std::string kConnected = "mqtt: connected to 127.0.0.1:PORT";
const TLinkCase kLinkCases[] = {
    {"clean_stop", false, false, "mqtt://127.0.0.1:PORT", {}, nullptr, {kConnected}, TStep::Stop},
    {"killed", false, false, "mqtt://127.0.0.1:PORT", {}, nullptr, {kConnected}, TStep::Kill},
    {"password", true, false, "mqtt://zeltest@127.0.0.1:PORT", {}, "s3cret", {kConnected}, TStep::Stop},
    {"refused_password", true, false, "mqtt://zeltest@127.0.0.1:PORT", {}, "wrong-horse",
     {"mqtt: refused by 127.0.0.1:PORT: Connection Refused: not authorised.", "mqtt: retrying in 1 s"}, TStep::Alive},
    {"tls_with_the_ca", false, true, "mqtts://127.0.0.1:PORT", {"--mqtt-cafile", "CA"}, nullptr, {kConnected}, TStep::Stop},
    {"tls_with_the_system_store", false, true, "mqtts://127.0.0.1:PORT", {}, nullptr,
     {"certificate verify failed", "mqtt: retrying in 1 s"}, TStep::Alive},
    {"broker_started_after_zelhost", false, false, "mqtt://127.0.0.1:PORT", {}, nullptr,
     {"mqtt: cannot connect to 127.0.0.1:PORT: Connection refused", "mqtt: retrying in 1 s"}, TStep::LateBroker},
    {"broker_restarted", false, false, "mqtt://127.0.0.1:PORT", {"--mqtt-discovery"}, nullptr, {kConnected}, TStep::Restart},
    {"deaf_broker", false, false, "mqtt://127.0.0.1:DEAF", {}, nullptr, {kUpdating}, TStep::Deaf},
};

class ZelhostMqttLink : public ::testing::TestWithParam<TLinkCase> {};

void PrintTo(const TLinkCase& c, std::ostream* os) { *os << c.name; }

TEST_P(ZelhostMqttLink, NoticesAndRetainedState) {
    const TLinkCase& c = GetParam();
    TSimulator box;
    TBridgeRig rig({c.login ? std::optional<std::string>("s3cret") : std::nullopt, c.tls}, c.step != TStep::LateBroker);
    TDeafPort deaf;
    BoxStore(rig.Dir, box.Address(), {"T:1", "W:4"}, 1, c.step == TStep::Restart ? 3600 : 1);
    std::string url = c.url;
    if (auto at = url.find("DEAF"); at != std::string::npos) url.replace(at, 4, std::to_string(deaf.Port));
    TEnvironment env;
    if (c.password) env.push_back({"ZELHOST_MQTT_PASSWORD", c.password});
    TChildProcess zelhost(rig.Run(c.args, url), env);
    for (const std::string& n : c.notices) ASSERT_TRUE(rig.ReadUntil(zelhost, rig.Expand(n))) << n << zelhost.Output() << zelhost.Wait(0).Err;
    int signal = SIGTERM;
    switch (c.step) {
    case TStep::Kill:
        signal = SIGKILL;
        [[fallthrough]];
    case TStep::Stop:
        EXPECT_TRUE(rig.Holds("zelhost/variable/T") && rig.Holds("zelhost/status", "online"));
        break;
    case TStep::LateBroker:
        rig.Broker.Start();
        ASSERT_TRUE(rig.ReadUntil(zelhost, rig.Expand(kConnected)));
        EXPECT_TRUE(rig.Holds("zelhost/variable/W"));
        break;
    case TStep::Restart:
        // Interval 3600: values come from the commands only, so after the restart they were sent again.
        ASSERT_TRUE(rig.TakesCommands(zelhost));
        rig.Broker.Publish("zelhost/instance/1/command", {"update"});
        ASSERT_TRUE(rig.ReadUntil(zelhost, kUpdating) && rig.Holds("zelhost/variable/T"));
        rig.Broker.Stop();
        rig.Broker.Start();
        for (const std::string n : {"mqtt: connection lost: ", "mqtt: retrying in 1 s", kConnected.c_str()})
            ASSERT_TRUE(rig.ReadUntil(zelhost, rig.Expand(n))) << n;
        EXPECT_TRUE(rig.Holds("zelhost/variable/T") && rig.Holds("zelhost/status", "online") &&
                    rig.Holds("zelhost/instance/1/status", "102") && rig.Holds("homeassistant/sensor/rig/i1_s0/config"));
        ASSERT_TRUE(rig.TakesCommands(zelhost)) << "subscribed again";
        rig.Broker.Publish("zelhost/instance/1/command", {"update"});
        EXPECT_TRUE(rig.ReadUntil(zelhost, kUpdating));
        EXPECT_EQ(Count(zelhost.Output(), kUpdating), 2u);
        break;
    case TStep::Alive: {
        auto last = TClock::now();
        for (int n = 0; n < 3; ++n) {
            ASSERT_TRUE(rig.ReadUntil(zelhost, kUpdating, 3000));
            EXPECT_LT(TClock::now() - last, std::chrono::milliseconds(1500)) << "update " << n << " late";
            last = TClock::now();
        }
        EXPECT_TRUE(zelhost.WaitForOutput("mqtt: retrying in 2 s", kWaitMs));
        break;
    }
    case TStep::Deaf:
        break;
    }
    const auto stopping = TClock::now();
    zelhost.Signal(signal);
    auto r = Plain(zelhost.Wait(kWaitMs));
    EXPECT_EQ(r.ExitCode, signal == SIGKILL ? -1 : 0) << r.Err;
    EXPECT_LT(TClock::now() - stopping, std::chrono::seconds(4)) << "the stop waits at most 2 s for the broker";
    if (c.step == TStep::Stop || c.step == TStep::Kill) {
        EXPECT_TRUE(rig.Holds("zelhost/status", "offline"));
    }
    if (c.step == TStep::Deaf) {
        EXPECT_EQ(r.Out.find("mqtt: "), std::string::npos) << "the connect still waited: " << r.Out;
    }
    if (c.password) {
        EXPECT_EQ((r.Out + r.Err).find(c.password), std::string::npos) << r.Out << r.Err;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ZelhostMqttLink, ::testing::ValuesIn(kLinkCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
