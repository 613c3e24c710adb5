#include "Broker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace zeltest {

namespace {

using TClock = std::chrono::steady_clock;

int Remaining(TClock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void Run(const std::vector<std::string>& args) {
    TProcessResult r = RunProcess(args, {}, 20000);
    if (r.ExitCode != 0) throw std::runtime_error(args[0] + " failed: " + r.Err);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A port nobody listens on now; inside the test namespace nobody else picks it in between.
uint16_t FreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(s);
    return ntohs(a.sin_port);
}

bool Accepts(uint16_t port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    bool ok = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) ::close(s);
    return ok;
}

// The CA and the server certificate for IP:127.0.0.1, made once per test program (P-256: fast).
struct TCertificates {
    TTempDir Dir;
    TCertificates() {
        const std::string ec = "ec_paramgen_curve:prime256v1";
        WriteFile(Dir.File("san.ext"), "subjectAltName=IP:127.0.0.1\n");
        Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-days", "2", "-subj",
             "/CN=zeltest CA", "-keyout", Dir.File("ca.key"), "-out", Dir.File("ca.crt")});
        Run({"/usr/bin/openssl", "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
             Dir.File("server.key"), "-out", Dir.File("server.csr")});
        Run({"/usr/bin/openssl", "x509", "-req", "-in", Dir.File("server.csr"), "-CA", Dir.File("ca.crt"), "-CAkey",
             Dir.File("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", Dir.File("san.ext"), "-out",
             Dir.File("server.crt")});
    }
};

const TCertificates& Certificates() {
    static TCertificates certificates;
    return certificates;
}

bool ParseMessage(const std::string& line, TMqttMessage& message) {
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
    if (!doc.isObject()) return false;
    QJsonObject o = doc.object();
    message.Topic = o["topic"].toString().toStdString();
    message.Payload = o["payload"].toString().toStdString();
    message.Retain = o["retain"].toInt() != 0;
    message.Qos = o["qos"].toInt();
    return true;
}

// A topic of its own for each probe, so a subscriber knows that what came before it has come.
std::string ProbeTopic() {
    static std::atomic<int> next{0};
    return "zeltest-probe/" + std::to_string(::getpid()) + "/" + std::to_string(next++);
}

}  // namespace

bool TSubscription::Read(TMqttMessage& message, int timeoutMs) {
    auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::string line; FChild.NextLine(line, Remaining(deadline));)
        if (ParseMessage(line, message)) return true;
    return false;
}

bool TSubscription::ReadUntil(const std::string& probe, int timeoutMs) {
    auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (TMqttMessage m; Read(m, Remaining(deadline));) {
        if (m.Topic == probe) return true;
        if (!m.Topic.starts_with("zeltest-probe/")) FBacklog.push_back(m);
    }
    return false;
}

bool TSubscription::WaitFor(const std::string& topic, const std::string& payload, int timeoutMs) {
    auto matches = [&](const TMqttMessage& m) { return m.Topic == topic && m.Payload == payload; };
    while (FBacklogNext < FBacklog.size())
        if (matches(FBacklog[FBacklogNext++])) return true;
    auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (TMqttMessage m; Read(m, Remaining(deadline));)
        if (matches(m)) return true;
    return false;
}

TBroker::TBroker(TBrokerConfig config, bool start) : FConfig(std::move(config)), FPort(FreePort()) {
    // Started as root, the broker would become another user that cannot read this folder.
    const passwd* self = ::getpwuid(::geteuid());
    std::string conf = "user " + std::string(self ? self->pw_name : "root") + "\npersistence false\n" +
                       "log_dest file " + FDir.File("broker.log") + "\nlog_type error\nlog_type warning\n" +
                       "log_type notice\nlog_type information\nlistener @PORT@ 127.0.0.1\n";
    if (FConfig.Password) {
        Run({MOSQUITTO_PASSWD_BIN, "-c", "-b", FDir.File("passwd"), kBrokerUser, *FConfig.Password});
        conf += "allow_anonymous false\npassword_file " + FDir.File("passwd") + "\n";
    } else {
        conf += "allow_anonymous true\n";
    }
    if (FConfig.Tls) {
        const TTempDir& certs = Certificates().Dir;
        conf += "cafile " + certs.File("ca.crt") + "\ncertfile " + certs.File("server.crt") + "\nkeyfile " +
                certs.File("server.key") + "\n";
    }
    FConfText = conf;
    if (start) Start();
}

TBroker::~TBroker() {
    try {
        Stop();
    } catch (...) {
        // A destructor must not throw; the child is killed by its own destructor anyway.
    }
}

void TBroker::Start() {
    if (FProcess) return;
    // Tests running side by side may pick the same free port: the first start tries another.
    for (int attempt = 0;; ++attempt) {
        std::string conf = FConfText;
        conf.replace(conf.find("@PORT@"), 6, std::to_string(FPort));
        WriteFile(FDir.File("mosquitto.conf"), conf);
        const size_t logStart = Log().size();
        FProcess = std::make_unique<TChildProcess>(std::vector<std::string>{MOSQUITTO_BIN, "-c", FDir.File("mosquitto.conf")});
        bool inUse = false;
        // Ours accepts once it logged that it runs: another broker on the port would accept too.
        for (auto deadline = TClock::now() + std::chrono::seconds(5); TClock::now() < deadline;) {
            const std::string log = Log().substr(logStart);
            if (log.find(" running") != std::string::npos && Accepts(FPort)) {
                FStarted = true;
                return;
            }
            if ((inUse = log.find("Address already in use") != std::string::npos)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FProcess.reset();
        if (!inUse || FStarted || attempt == 2) throw std::runtime_error("the broker did not start: " + Log());
        FPort = FreePort();
    }
}

void TBroker::Stop() {
    if (!FProcess) return;
    FProcess->Signal(SIGTERM);
    FProcess->Wait(5000);
    FProcess.reset();
}

std::string TBroker::CaFile() { return Certificates().Dir.File("ca.crt"); }

std::string TBroker::Log() const { return ReadFile(FDir.File("broker.log")); }

std::vector<std::string> TBroker::ClientArgs(const std::string& program) const {
    std::vector<std::string> args = {program, "-h", "127.0.0.1", "-p", std::to_string(FPort), "-q", "1"};
    if (FConfig.Password) args.insert(args.end(), {"-u", kBrokerUser, "-P", *FConfig.Password});
    if (FConfig.Tls) args.insert(args.end(), {"--cafile", CaFile()});
    return args;
}

std::unique_ptr<TSubscription> TBroker::Subscribe(const std::string& filter) const {
    // A probe published after the subscription holds reaches it after every retained message of
    // the filter; until then, probes may come too early and are repeated.
    const std::string probe = ProbeTopic();
    std::vector<std::string> args = ClientArgs(MOSQUITTO_SUB_BIN);
    args.insert(args.end(), {"-F", "%j", "-t", filter, "-t", probe});
    auto sub = std::make_unique<TSubscription>(args);
    auto deadline = TClock::now() + std::chrono::seconds(5);
    while (TClock::now() < deadline) {
        Publish(probe, {"probe"});
        if (sub->ReadUntil(probe, 200)) return sub;
    }
    throw std::runtime_error("the subscription to " + filter + " did not start");
}

std::vector<TMqttMessage> TBroker::Retained(const std::string& filter) const {
    auto sub = Subscribe(filter);
    std::vector<TMqttMessage> retained;
    for (const TMqttMessage& m : sub->FBacklog)
        if (m.Retain) retained.push_back(m);
    return retained;
}

void TBroker::Publish(const std::string& topic, const std::vector<std::string>& lines) const {
    // One client per line: a child's stdin is /dev/null, so mosquitto_pub -l has nothing to read.
    for (const std::string& line : lines) {
        std::vector<std::string> args = ClientArgs(MOSQUITTO_PUB_BIN);
        args.insert(args.end(), {"-t", topic, "-m", line});
        Run(args);
    }
}

}  // namespace zeltest
