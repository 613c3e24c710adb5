#include "Broker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace zeltest {

namespace {

void Run(const std::vector<std::string>& args) {
    TProcessResult r = RunProcess(args, {}, 20000);
    if (r.ExitCode != 0) throw std::runtime_error(args[0] + " failed: " + r.Err);
}

// A port nobody listens on now.
uint16_t FreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(s);
    return ntohs(a.sin_port);
}

// The CA and the server certificate for IP:127.0.0.1, made once per test program (P-256: fast).
struct TCertificates {
    TTempDir Dir;
    TCertificates() {
        const std::string ec = "ec_paramgen_curve:prime256v1", openssl = "/usr/bin/openssl";
        WriteFile(Dir.File("san.ext"), "subjectAltName=IP:127.0.0.1\n");
        Run({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-days", "2", "-subj", "/CN=zeltest CA",
             "-keyout", Dir.File("ca.key"), "-out", Dir.File("ca.crt")});
        Run({openssl, "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
             Dir.File("server.key"), "-out", Dir.File("server.csr")});
        Run({openssl, "x509", "-req", "-in", Dir.File("server.csr"), "-CA", Dir.File("ca.crt"), "-CAkey", Dir.File("ca.key"),
             "-CAcreateserial", "-days", "2", "-extfile", Dir.File("san.ext"), "-out", Dir.File("server.crt")});
    }
};

const TTempDir& Certificates() {
    static const TCertificates certificates;
    return certificates.Dir;
}

}  // namespace

TBroker::TBroker(TBrokerConfig config, bool start) : FConfig(std::move(config)), FPort(FreePort()) {
    if (start) Start();
}

void TBroker::Start() {
    // Started as root, the broker would become another user that cannot read this folder.
    const passwd* self = ::getpwuid(::geteuid());
    std::string conf = "user " + std::string(self ? self->pw_name : "root") + "\npersistence false\nlog_dest file " +
                       FDir.File("broker.log") + "\n";
    if (FConfig.Password) {
        Run({MOSQUITTO_PASSWD_BIN, "-c", "-b", FDir.File("passwd"), kBrokerUser, *FConfig.Password});
        conf += "allow_anonymous false\npassword_file " + FDir.File("passwd") + "\n";
    } else {
        conf += "allow_anonymous true\n";
    }
    // The listener's own settings follow its line.
    const std::string tls = !FConfig.Tls ? "" : "cafile " + CaFile() + "\ncertfile " + Certificates().File("server.crt") +
                                                    "\nkeyfile " + Certificates().File("server.key") + "\n";
    // Tests running side by side may take the same free port: the first start tries another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        WriteFile(FDir.File("broker.log"), "");
        WriteFile(FDir.File("mosquitto.conf"), conf + "listener " + std::to_string(FPort) + " 127.0.0.1\n" + tls);
        FProcess = std::make_unique<TChildProcess>(std::vector<std::string>{MOSQUITTO_BIN, "-c", FDir.File("mosquitto.conf")});
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             std::chrono::steady_clock::now() < deadline;) {
            const std::string log = ReadFile(FDir.File("broker.log"));
            if (log.find(" running") != std::string::npos) {
                FStarted = true;
                return;
            }
            if (log.find("Address already in use") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FProcess.reset();
        if (FStarted) break;
        FPort = FreePort();
    }
    throw std::runtime_error("the broker did not start: " + ReadFile(FDir.File("broker.log")));
}

std::string TBroker::CaFile() { return Certificates().File("ca.crt"); }

std::vector<std::string> TBroker::ClientArgs(const char* program) const {
    std::vector<std::string> args = {program, "-h", "127.0.0.1", "-p", std::to_string(FPort), "-q", "1"};
    if (FConfig.Password) args.insert(args.end(), {"-u", kBrokerUser, "-P", *FConfig.Password});
    if (FConfig.Tls) args.insert(args.end(), {"--cafile", CaFile()});
    return args;
}

std::map<std::string, TMqttMessage> TBroker::Retained(const std::string& filter) const {
    // The broker sends a filter's retained messages when it takes the subscription, so they all
    // come before a probe published after that; probes published too early are lost and repeated.
    const std::string probe = "zeltest-probe/" + std::to_string(::getpid());
    std::vector<std::string> args = ClientArgs(MOSQUITTO_SUB_BIN);
    args.insert(args.end(), {"-F", "%j", "-t", filter, "-t", probe});
    TChildProcess sub(args);
    for (int i = 0;; ++i) {
        if (i == 25) throw std::runtime_error("the subscription to " + filter + " did not start");
        Publish(probe, {"probe"});
        if (sub.WaitForOutput("\"" + probe + "\"", 200)) break;
    }
    std::map<std::string, TMqttMessage> retained;
    for (std::string line; sub.NextLine(line, 0);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (o["retain"].toInt() != 0)
            retained[o["topic"].toString().toStdString()] = {o["payload"].toString().toStdString(), true, o["qos"].toInt()};
    }
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
