// The MQTT link in-process against a real broker: what subscribers see, and the notices a person
// reads when the broker is late, goes away, refuses the login or presents a certificate we do not
// trust.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

#include "Broker.h"
#include "MqttLink.h"

using namespace zeltest;
using zelhost::TMqttLink;
using zelhost::TMqttSettings;

namespace {

constexpr int kWaitMs = 10000;
const std::string kStatus = "zt/status";

// The link's notices as they come, and its messages as "message TOPIC PAYLOAD", searched in order.
class TNotices {
public:
    TMqttLink::THooks Hooks() {
        return {[this](std::string_view text) { Add(std::string(text)); },
                [this](std::string topic, std::string payload) { Add("message " + topic + " " + payload); }};
    }
    void Add(std::string text) {
        std::lock_guard lock(FLock);
        FAll.push_back(std::move(text));
        FChanged.notify_all();
    }
    // Waits for a notice that comes after the last one found and contains `fragment`.
    bool Next(const std::string& fragment, int timeoutMs) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (size_t i = FNext; i < FAll.size(); ++i)
                if (FAll[i].find(fragment) != std::string::npos) {
                    FNext = i + 1;
                    return true;
                }
            return false;
        });
    }
    std::string All() {
        std::lock_guard lock(FLock);
        std::string all;
        for (const auto& n : FAll) all += n + "\n";
        return all;
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FAll;
    size_t FNext = 0;
};

TMqttSettings Settings(uint16_t port) {
    TMqttSettings s;
    s.Host = "127.0.0.1";
    s.Port = port;
    s.ClientId = "zeltest-link";
    s.StatusTopic = kStatus;
    return s;
}

std::map<std::string, TMqttMessage> ByTopic(const std::vector<TMqttMessage>& messages) {
    std::map<std::string, TMqttMessage> by;
    for (const auto& m : messages) by[m.Topic] = m;
    return by;
}

// The topic's retained message once it has arrived.
void ExpectRetained(const TBroker& broker, const std::string& topic, const std::string& payload) {
    ASSERT_TRUE(broker.Subscribe(topic)->WaitFor(topic, payload, kWaitMs)) << topic << "=" << payload;
    auto retained = ByTopic(broker.Retained(topic));
    EXPECT_EQ(retained[topic].Payload, payload) << topic;
    EXPECT_TRUE(retained[topic].Retain) << topic;
    EXPECT_EQ(retained[topic].Qos, 1) << topic;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    if (auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Far more topics than the link hands the library at once: the rest wait in the outbox and follow
// as acknowledgements come, each with its latest value, retained; a clean stop leaves `offline`.
TEST(MqttLink, ManyValuesRetainedWithTheirLatestValueAndOfflineOnCleanStop) {
    constexpr int kTopics = 1000;
    TBroker broker;
    auto live = broker.Subscribe("zt/debug");
    TNotices notices;
    TMqttLink link(Settings(broker.Port()), notices.Hooks());
    auto topic = [](int i) { return "zt/variable/v" + std::to_string(i); };
    for (int i = 0; i < kTopics; ++i) link.Publish(topic(i), "old", true, 1);
    for (int i = 0; i < kTopics; i += 2) link.Publish(topic(i), "new", true, 1);
    link.Publish("zt/debug", "not kept", false, 0);
    link.Publish("zt/last", "done", true, 1);
    ASSERT_TRUE(notices.Next("mqtt: connected to 127.0.0.1:" + std::to_string(broker.Port()), kWaitMs)) << notices.All();
    ASSERT_TRUE(live->WaitFor("zt/debug", "not kept", kWaitMs));
    ExpectRetained(broker, "zt/last", "done");
    auto retained = ByTopic(broker.Retained("zt/#"));
    ASSERT_EQ(retained.size(), size_t{kTopics} + 2) << "the variables, zt/last and the status, not zt/debug";
    EXPECT_EQ(retained[kStatus].Payload, "online");
    for (int i = 0; i < kTopics; ++i) {
        EXPECT_EQ(retained[topic(i)].Payload, i % 2 ? "old" : "new") << topic(i);
        EXPECT_EQ(retained[topic(i)].Qos, 1) << topic(i);
    }
    link.Clear(topic(7));
    link.Stop(2000);
    retained = ByTopic(broker.Retained("zt/#"));
    EXPECT_EQ(retained[kStatus].Payload, "offline");
    EXPECT_EQ(retained.count(topic(7)), 0u) << "cleared";
    EXPECT_EQ(retained.size(), size_t{kTopics} + 1);
}

TEST(MqttLink, LastWillWhenTheProcessIsKilled) {
    TBroker broker;
    TChildProcess holder({MQTT_LINK_HOLDER_BIN, std::to_string(broker.Port()), kStatus});
    ASSERT_TRUE(holder.WaitForOutput("mqtt: connected to", kWaitMs)) << holder.Output();
    auto sub = broker.Subscribe(kStatus);
    ASSERT_TRUE(sub->WaitFor(kStatus, "online", kWaitMs));
    holder.Signal(SIGKILL);
    EXPECT_TRUE(sub->WaitFor(kStatus, "offline", kWaitMs));
    EXPECT_EQ(ByTopic(broker.Retained(kStatus))[kStatus].Payload, "offline");
}

TEST(MqttLink, RetainedStateAndSubscriptionsAgainAfterABrokerRestart) {
    TBroker broker;
    TNotices notices;
    TMqttLink link(Settings(broker.Port()), notices.Hooks());
    link.Subscribe("zt/instance/+/command");
    link.Publish("zt/variable/a", "1.5", true, 1);
    link.Publish("zt/variable/b", "ON", true, 1);
    ExpectRetained(broker, "zt/variable/b", "ON");
    broker.Publish("zt/instance/1/command", {"update"});
    ASSERT_TRUE(notices.Next("message zt/instance/1/command update", kWaitMs)) << notices.All();
    broker.Restart();  // without persistence: it forgets every retained message
    ASSERT_TRUE(notices.Next("mqtt: connection lost: ", kWaitMs)) << notices.All();
    ASSERT_TRUE(notices.Next("mqtt: retrying in 1 s", kWaitMs)) << notices.All();
    ASSERT_TRUE(notices.Next("mqtt: connected to", kWaitMs)) << notices.All();
    ExpectRetained(broker, "zt/variable/a", "1.5");
    ExpectRetained(broker, "zt/variable/b", "ON");
    ExpectRetained(broker, kStatus, "online");
    broker.Publish("zt/instance/2/command", {"detect"});
    EXPECT_TRUE(notices.Next("message zt/instance/2/command detect", kWaitMs)) << notices.All();
}

// True while a connect to 127.0.0.1:`port` waits for the peer's answer (SYN sent).
bool ConnectWaiting(uint16_t port) {
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X", port);
    std::istringstream table(ReadFile("/proc/net/tcp"));
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, peer, state;
        fields >> slot >> local >> peer >> state;
        if (state == "02" && peer.ends_with(remote)) return true;
    }
    return false;
}

// A host that drops connects (here a listener whose queue is full, which drops further SYNs) holds
// the library's connect for minutes: Stop still returns in time.
TEST(MqttLink, StopInTimeWhileTheConnectHangs) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    int fillers[2];
    for (int& f : fillers) {
        f = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    const TMqttSettings settings = Settings(ntohs(a.sin_port));
    TNotices notices;
    {
        TMqttLink link(settings, notices.Hooks());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!ConnectWaiting(settings.Port) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(ConnectWaiting(settings.Port));
        auto start = std::chrono::steady_clock::now();
        link.Stop(200);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    }
    EXPECT_EQ(notices.All(), "") << "no notice after Stop";
    for (int f : fillers) ::close(f);
    ::close(listener);
}

// Connecting against brokers that are late, ask for a password or speak TLS. The notices are
// expected in this order, others may come between; `PORT` stands for the broker's port.
struct TConnectCase {
    const char* name;
    TBrokerConfig broker;
    bool late;             // the broker starts after these notices
    const char* password;  // as user kBrokerUser; null: no login
    bool caFile;           // the fixture's CA; false: the system's CA store
    std::vector<std::string> notices;
    bool connects;
};

const TConnectCase kConnectCases[] = {
    {"broker_started_after_the_link", {}, true, nullptr, false,
     {"mqtt: cannot connect to 127.0.0.1:PORT: Connection refused", "mqtt: retrying in 1 s"}, true},
    {"password", {"s3cret", false}, false, "s3cret", false, {}, true},
    {"refused_password", {"s3cret", false}, false, "wrong-horse", false,
     {"mqtt: refused by 127.0.0.1:PORT: Connection Refused: not authorised.", "mqtt: retrying in 1 s",
      "mqtt: refused by", "mqtt: retrying in 2 s"},
     false},
    {"tls_with_the_ca", {std::nullopt, true}, false, nullptr, true, {}, true},
    {"tls_with_the_system_store", {std::nullopt, true}, false, nullptr, false,
     {"certificate verify failed", "mqtt: retrying in 1 s",
      "certificate verify failed", "mqtt: retrying in 2 s"},
     false},
};

class MqttConnect : public ::testing::TestWithParam<TConnectCase> {};

void PrintTo(const TConnectCase& c, std::ostream* os) { *os << c.name; }

TEST_P(MqttConnect, NoticesAndValues) {
    const TConnectCase& c = GetParam();
    TBroker broker(c.broker, !c.late);
    TMqttSettings settings = Settings(broker.Port());
    if (c.password) {
        settings.User = kBrokerUser;
        settings.Password = c.password;
    }
    settings.Tls = c.broker.Tls;
    if (c.caFile) settings.CaFile = TBroker::CaFile();
    TNotices notices;
    TMqttLink link(settings, notices.Hooks());
    link.Publish("zt/variable/t", "21.5", true, 1);
    for (const std::string& n : c.notices)
        ASSERT_TRUE(notices.Next(Replace(n, "PORT", std::to_string(broker.Port())), kWaitMs)) << n << "\n" << notices.All();
    if (c.late) broker.Start();
    if (c.connects) {
        ASSERT_TRUE(notices.Next("mqtt: connected to 127.0.0.1:" + std::to_string(broker.Port()), kWaitMs)) << notices.All();
        ExpectRetained(broker, "zt/variable/t", "21.5");
        ExpectRetained(broker, kStatus, "online");
    } else {
        // Stop while waiting to retry: at once, not after the wait.
        auto start = std::chrono::steady_clock::now();
        link.Stop(2000);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
    if (c.password) {
        EXPECT_EQ(notices.All().find(c.password), std::string::npos) << notices.All();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MqttConnect, ::testing::ValuesIn(kConnectCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
