// zelhost with the module, all3000-sim and a real broker, as any other MQTT client sees it: the
// values and discovery configs it leaves retained, the commands it takes, and how it meets a broker
// that is late, restarts, refuses the login, speaks TLS or never answers.
#include <gtest/gtest.h>

#include "Broker.h"
#include "Simulator.h"
#include "Zelhost.h"

using namespace zeltest;
using TClock = std::chrono::steady_clock;

namespace {

constexpr int kWaitMs = 10000;
// For a zelhost built with the thread sanitizer; ignored otherwise.
const int kQtSuppressions = ::setenv("TSAN_OPTIONS", "suppressions=" ZEL_QT_TSAN_SUPPRESSIONS, 0);
const std::string kUpdating = R"("text":"Updating...")";

struct TBridgeRig {
    explicit TBridgeRig(TBrokerConfig config = {}, bool start = true) : Broker(std::move(config), start) {}
    TBroker Broker;
    TTempDir Dir;
    std::string Store = Dir.File("store.xml");  // as BoxStore names it

    std::vector<std::string> Run(std::vector<std::string> extra, const std::string& scheme = "mqtt://", int port = 0) const {
        const std::string url = scheme + "127.0.0.1:" + std::to_string(port ? port : Broker.Port());
        extra.insert(extra.begin(), {Zelhost, "run", "--module", Module, "--store", Store, "--jsonl", "--mqtt", url,
                                     "--mqtt-client-id", "rig"});
        return extra;
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

// The JSON object's values of `keys` (texts), "|" between.
std::string Fields(const std::string& json, std::initializer_list<const char*> keys) {
    std::string fields;
    for (const char* key : keys) fields += (fields.empty() ? "" : "|") + Json(json)[key].toString().toStdString();
    return fields;
}

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
    // the variable's topic level | component | device class, unit, state class, payload_on
    const std::string rows[][3] = {
        {"Temp%2F1%2B%23", "sensor", "temperature|\u00B0C|measurement|"}, {"50%25", "sensor", "atmospheric_pressure|hPa|measurement|"},
        {"T%81", "sensor", "humidity|%|measurement|"},  {"Window", "binary_sensor", "|||ON"}, {"Volt", "sensor", "||measurement|"},
        {"Energy", "sensor", "||total_increasing|"},    {"T6", "sensor", "temperature|\u00B0C|measurement|"},
        {"Door", "binary_sensor", "|||ON"},
    };
    auto values = rig.Broker.Retained("zelhost/variable/#");
    auto configs = rig.Broker.Retained("ha/#");
    EXPECT_EQ(values.size(), std::size(rows));
    EXPECT_EQ(configs.size(), std::size(rows) + 1);  // and the button
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& [level, component, fields] = rows[i];
        const std::string stateTopic = "zelhost/variable/" + level, id = "rig_i1_s" + std::to_string(i);
        const TMqttMessage& value = values[stateTopic];
        EXPECT_EQ(value.Qos, 1) << stateTopic;
        if (component == "binary_sensor")
            EXPECT_TRUE(value.Payload == "ON" || value.Payload == "OFF") << stateTopic << "=" << value.Payload;
        else
            EXPECT_NO_THROW(std::stof(value.Payload)) << stateTopic << "=" << value.Payload;
        EXPECT_EQ(Fields(configs["ha/" + component + "/rig/i1_s" + std::to_string(i) + "/config"].Payload,
                         {"state_topic", "unique_id", "device_class", "unit_of_measurement", "state_class", "payload_on"}),
                  stateTopic + "|" + id + "|" + fields);
    }
    EXPECT_EQ(Fields(configs["ha/button/rig/i1_update/config"].Payload, {"name", "unique_id", "command_topic", "payload_press"}),
              "Update now|rig_i1_update|zelhost/instance/1/command|update");
    // Every entity: its device, and online while zelhost is and the instance is connected.
    const QJsonObject common = Json(R"({"availability":[{"topic":"zelhost/status"},{"topic":"zelhost/instance/1/status",
        "value_template":"{{ 'online' if value == '102' else 'offline' }}"}],"availability_mode":"all",
        "device":{"identifiers":["rig_i1"],"name":"ALL3000 #1","model":"ALL3000","manufacturer":"zelhost"}})");
    for (const auto& [topic, config] : configs)
        for (const QString& key : common.keys()) EXPECT_EQ(Json(config.Payload)[key], common[key]) << topic << " " << key.toStdString();
    auto instance = rig.Broker.Retained("zelhost/instance/#");
    EXPECT_EQ(instance["zelhost/instance/1/status"].Payload, "102");
    EXPECT_FALSE(instance.contains("zelhost/instance/1/debug")) << "debug lines are not kept";
    // The stop's "offline" leaves after every other message of the run.
    EXPECT_TRUE(rig.Holds("zelhost/status", "offline"));

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
        // The first update waits for the slow box processing messages: the rest arrive meanwhile.
        {"1500", {"update", "update", "update", "detect", "detect", "xyz"}, 2, 1, 2, 1},
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
        rig.Broker.Publish("zelhost/instance/1/command", {row.commands.front()});
        ASSERT_TRUE(rig.ReadUntil(zelhost, kUpdating));
        rig.Broker.Publish("zelhost/instance/1/command", {row.commands.begin() + 1, row.commands.end()});
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
    // A burst read at once, before any of it ran: each command runs or is reported queued already.
    TSimulator box({"--delay", "1500"});
    TBridgeRig rig;
    BoxStore(rig.Dir, box.Address(), {"A:0"}, 1, 3600);
    TChildProcess zelhost(rig.Run({}));
    ASSERT_TRUE(rig.TakesCommands(zelhost));
    rig.Broker.Publish("zelhost/instance/1/command", {"update"}, 20);
    size_t updates = 0, queued = 0;
    for (std::string line; updates + queued < 20 && zelhost.NextLine(line, kWaitMs);) {
        updates += line.find(kUpdating) != std::string::npos;
        queued += line.find("is already queued") != std::string::npos;
    }
    EXPECT_EQ(updates + queued, 20u);
    EXPECT_LE(updates, 2u);
}

namespace {

// A listener whose queue is full: the kernel drops further connects, which then hang for minutes.
struct TDeafPort {
    int Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), Fillers[2] = {-1, -1};
    sockaddr_in Address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    TDeafPort() {
        socklen_t len = sizeof Address;
        EXPECT_TRUE(::bind(Listener, reinterpret_cast<sockaddr*>(&Address), len) == 0 && ::listen(Listener, 0) == 0 &&
                    ::getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &len) == 0);
        for (int& f : Fillers) {
            f = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr*>(&Address), len);
        }
    }
    ~TDeafPort() {
        for (int f : {Fillers[0], Fillers[1], Listener}) ::close(f);
    }
};

// What a run does once its notices came (in this order, others between; PORT is the broker's port).
enum class TStep { Burst, Stop, Kill, LateBroker, Restart, Alive, Deaf };

const struct TLinkCase {
    const char* name;
    bool login, tls, caFile;  // the broker takes only kBrokerUser with "s3cret"; TLS; --mqtt-cafile the test's CA
    const char* scheme;
    const char* password;  // in ZELHOST_MQTT_PASSWORD, never to be shown
    std::vector<std::string> notices;
    TStep step;
} kLinkCases[] = {
    {"clean_stop", false, false, false, "mqtt://", nullptr, {"mqtt: connected to 127.0.0.1:PORT"}, TStep::Burst},
    {"killed", false, false, false, "mqtt://", nullptr, {"mqtt: connected to"}, TStep::Kill},
    {"password", true, false, false, "mqtt://zeltest@", "s3cret", {"mqtt: connected to"}, TStep::Stop},
    {"refused_password", true, false, false, "mqtt://zeltest@", "wrong-horse",
     {"mqtt: refused by 127.0.0.1:PORT: Connection Refused: not authorised.", "mqtt: retrying in 1 s"}, TStep::Alive},
    {"tls_with_the_ca", false, true, true, "mqtts://", nullptr, {"mqtt: connected to"}, TStep::Stop},
    {"tls_with_the_system_store", false, true, false, "mqtts://", nullptr,
     {"certificate verify failed", "mqtt: retrying in 1 s"}, TStep::Alive},
    {"broker_started_after_zelhost", false, false, false, "mqtt://", nullptr,
     {"mqtt: cannot connect to 127.0.0.1:PORT: Connection refused", "mqtt: retrying in 1 s"}, TStep::LateBroker},
    {"broker_restarted", false, false, false, "mqtt://", nullptr, {"mqtt: connected to"}, TStep::Restart},
    {"deaf_broker", false, false, false, "mqtt://", nullptr, {kUpdating}, TStep::Deaf},
};

class ZelhostMqttLink : public ::testing::TestWithParam<TLinkCase> {};

void PrintTo(const TLinkCase& c, std::ostream* os) { *os << c.name; }

TEST_P(ZelhostMqttLink, NoticesAndRetainedState) {
    const TLinkCase& c = GetParam();
    TSimulator box;
    TBridgeRig rig({c.login ? std::optional<std::string>("s3cret") : std::nullopt, c.tls}, c.step != TStep::LateBroker);
    TDeafPort deaf;
    BoxStore(rig.Dir, box.Address(), {"T:1", "W:4"}, 1, c.step == TStep::Restart ? 3600 : 1);
    std::vector<std::string> args = {"--mqtt-discovery"};
    if (c.caFile) args.insert(args.end(), {"--mqtt-cafile", TBroker::CaFile()});
    TEnvironment env;
    if (c.password) env.push_back({"ZELHOST_MQTT_PASSWORD", c.password});
    TChildProcess zelhost(rig.Run(args, c.scheme, c.step == TStep::Deaf ? ntohs(deaf.Address.sin_port) : 0), env);
    auto seen = [&](std::string notice) {
        if (auto at = notice.find("PORT"); at != std::string::npos) notice.replace(at, 4, std::to_string(rig.Broker.Port()));
        return rig.ReadUntil(zelhost, notice);
    };
    for (const std::string& n : c.notices) ASSERT_TRUE(seen(n)) << n << "\n" << zelhost.Output();
    switch (c.step) {
    case TStep::Burst: {  // more messages than the link keeps in flight, then as Stop
        ASSERT_TRUE(rig.TakesCommands(zelhost));
        rig.Broker.Publish("zelhost/instance/1/command", {"xyz"}, 64);
        const auto burst = TClock::now();
        for (int n = 0; n < 64; ++n) ASSERT_TRUE(rig.ReadUntil(zelhost, R"(command \"xyz\" ignored)")) << n;
        // Taken together (about 0.1 s), not one or a few per round of the link (2.5 s).
        EXPECT_LT(TClock::now() - burst, std::chrono::seconds(1));
        [[fallthrough]];
    }
    case TStep::Stop:  // values retained; SIGTERM leaves `offline`
    case TStep::Kill:  // values retained; SIGKILL: the last will says `offline`
        EXPECT_TRUE(rig.Holds("zelhost/variable/T") && rig.Holds("zelhost/status", "online"));
        break;
    case TStep::LateBroker:  // the broker starts now: values follow
        rig.Broker.Start();
        ASSERT_TRUE(seen("mqtt: connected to 127.0.0.1:PORT"));
        EXPECT_TRUE(rig.Holds("zelhost/variable/W"));
        break;
    case TStep::Restart:
        // The broker restarts empty. Interval 3600: values come from the commands only, so after the
        // restart they were sent again. Commands still work.
        ASSERT_TRUE(rig.TakesCommands(zelhost));
        rig.Broker.Publish("zelhost/instance/1/command", {"update"});
        ASSERT_TRUE(rig.ReadUntil(zelhost, kUpdating) && rig.Holds("zelhost/variable/T"));
        for (int n = 0; n < 2; ++n) {  // each loss waits 1 s first: a connection resets the wait
            rig.Broker.Stop();
            rig.Broker.Start();
            ASSERT_TRUE(seen("mqtt: connection lost: ") && seen("mqtt: retrying in 1 s") && seen("mqtt: connected to"));
        }
        EXPECT_TRUE(rig.Holds("zelhost/variable/T") && rig.Holds("zelhost/status", "online") &&
                    rig.Holds("zelhost/instance/1/status", "102") && rig.Holds("homeassistant/sensor/rig/i1_s0/config"));
        ASSERT_TRUE(rig.TakesCommands(zelhost)) << "subscribed again";
        rig.Broker.Publish("zelhost/instance/1/command", {"update"});
        EXPECT_TRUE(rig.ReadUntil(zelhost, kUpdating));
        EXPECT_EQ(Count(zelhost.Output(), kUpdating), 2u);
        break;
    case TStep::Alive:  // no connection: the instance keeps its interval, the retries go on
        for (int n = 0; n < 3; ++n) ASSERT_TRUE(rig.ReadUntil(zelhost, kUpdating, 1500)) << "update " << n << " late";
        EXPECT_TRUE(zelhost.WaitForOutput("mqtt: retrying in 4 s", kWaitMs));
        EXPECT_EQ(Count(zelhost.Output(), "mqtt: retrying in "), 3u) << "1, 2, 4 s";
        break;
    case TStep::Deaf:  // the broker's address drops the connect: a stop still ends in time
        break;
    }
    const auto stopping = TClock::now();
    zelhost.Signal(c.step == TStep::Kill ? SIGKILL : SIGTERM);
    auto r = Plain(zelhost.Wait(kWaitMs));
    EXPECT_EQ(r.ExitCode, c.step == TStep::Kill ? -1 : 0) << r.Err;
    // The stop waits at most 2 s for the broker, and not for a retry's wait.
    EXPECT_LT(TClock::now() - stopping, std::chrono::milliseconds(c.step == TStep::Alive ? 1000 : 4000));
    if (c.step == TStep::Burst || c.step == TStep::Stop || c.step == TStep::Kill) {
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
