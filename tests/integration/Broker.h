#pragma once
// A real MQTT broker for the tests: mosquitto on 127.0.0.1 and a free port, with a private config,
// optionally a password or TLS, stopped by its owner. The tests reach it only through the
// command-line clients, so what they see is what any other client sees.
#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "Process.h"

namespace zeltest {

struct TBrokerConfig {
    std::optional<std::string> Password;  // set: only kBrokerUser with this password may connect
    bool Tls = false;                     // a certificate for IP:127.0.0.1, signed by TBroker::CaFile()
};

constexpr const char* kBrokerUser = "zeltest";

struct TMqttMessage {
    std::string Payload;
    int Qos = 0;
};

class TBroker {
public:
    explicit TBroker(TBrokerConfig config = {}, bool start = true) : FConfig(std::move(config)), FPort(FreePort()) {
        if (start) Start();
    }
    TBroker(const TBroker&) = delete;
    TBroker& operator=(const TBroker&) = delete;

    // Starts on Port() (the same port every time) and returns once it runs; throws after 5 s.
    void Start() {
        // Started as root, the broker would become another user that cannot read this folder.
        const passwd* self = ::getpwuid(::geteuid());
        std::string conf = "user " + std::string(self ? self->pw_name : "root") + "\npersistence false\nlog_dest file " +
                           FDir.File("broker.log") + "\nallow_anonymous " + (FConfig.Password ? "false" : "true") + "\n";
        if (FConfig.Password) {
            Run({MOSQUITTO_PASSWD_BIN, "-c", "-b", FDir.File("passwd"), kBrokerUser, *FConfig.Password});
            conf += "password_file " + FDir.File("passwd") + "\n";
        }
        // The listener's own settings follow its line.
        const std::string tls = !FConfig.Tls ? "" : "cafile " + CaFile() + "\ncertfile " + Certificate("server.crt") +
                                                        "\nkeyfile " + Certificate("server.key") + "\n";
        // Tests running side by side may take the same free port: the first start tries another.
        for (int attempt = 0;; ++attempt) {
            WriteFile(FDir.File("broker.log"), "");
            WriteFile(FDir.File("mosquitto.conf"), conf + "listener " + std::to_string(FPort) + " 127.0.0.1\n" + tls);
            FProcess = std::make_unique<TChildProcess>(std::vector<std::string>{MOSQUITTO_BIN, "-c", FDir.File("mosquitto.conf")});
            std::string log;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while ((log = ReadFile(FDir.File("broker.log"))).find(" running") == std::string::npos &&
                   log.find("in use") == std::string::npos && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (log.find(" running") != std::string::npos) {
                FStarted = true;
                return;
            }
            FProcess.reset();
            if (FStarted || attempt == 2) throw std::runtime_error("the broker did not start: " + log);
            FPort = FreePort();
        }
    }
    // Ends the broker; it keeps nothing, retained messages are gone.
    void Stop() { FProcess.reset(); }
    uint16_t Port() const noexcept { return FPort; }
    // The CA of every TLS broker of the test program.
    static std::string CaFile() { return Certificate("ca.crt"); }

    // The retained messages matching `filter` now, by topic.
    std::map<std::string, TMqttMessage> Retained(const std::string& filter) const {
        // The broker sends a filter's retained messages as it takes the subscription, so they all come
        // before a probe published after that; probes published too early are lost and repeated.
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
                retained[o["topic"].toString().toStdString()] = {o["payload"].toString().toStdString(), o["qos"].toInt()};
        }
        return retained;
    }
    // Publishes each line `repeat` times as QoS 1 messages, not retained, in order.
    void Publish(const std::string& topic, const std::vector<std::string>& lines, int repeat = 1) const {
        // One client per line: a child's stdin is /dev/null, so mosquitto_pub -l has nothing to read.
        for (const std::string& line : lines) {
            std::vector<std::string> args = ClientArgs(MOSQUITTO_PUB_BIN);
            args.insert(args.end(), {"-t", topic, "-m", line, "--repeat", std::to_string(repeat)});
            Run(args);
        }
    }

private:
    static void Run(const std::vector<std::string>& args) {
        TProcessResult r = RunProcess(args, {}, 20000);
        if (r.ExitCode != 0) throw std::runtime_error(args[0] + " failed: " + r.Err);
    }
    // A port nobody listens on now.
    static uint16_t FreePort() {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        sockaddr* address = reinterpret_cast<sockaddr*>(&a);
        if (s < 0 || ::bind(s, address, len) != 0 || ::getsockname(s, address, &len) != 0)
            throw std::runtime_error("no free port");
        ::close(s);
        return ntohs(a.sin_port);
    }
    // The CA's and the server's files for IP:127.0.0.1, made once per test program (P-256: fast).
    static std::string Certificate(const char* name) {
        static const TTempDir dir;
        static const bool made = [] {
            const std::string ec = "ec_paramgen_curve:prime256v1", openssl = "/usr/bin/openssl";
            WriteFile(dir.File("san.ext"), "subjectAltName=IP:127.0.0.1\n");
            Run({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-days", "2", "-subj", "/CN=zeltest CA",
                 "-keyout", dir.File("ca.key"), "-out", dir.File("ca.crt")});
            Run({openssl, "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                 dir.File("server.key"), "-out", dir.File("server.csr")});
            Run({openssl, "x509", "-req", "-in", dir.File("server.csr"), "-CA", dir.File("ca.crt"), "-CAkey", dir.File("ca.key"),
                 "-CAcreateserial", "-days", "2", "-extfile", dir.File("san.ext"), "-out", dir.File("server.crt")});
            return true;
        }();
        return made ? dir.File(name) : "";
    }
    std::vector<std::string> ClientArgs(const char* program) const {
        std::vector<std::string> args = {program, "-h", "127.0.0.1", "-p", std::to_string(FPort), "-q", "1"};
        if (FConfig.Password) args.insert(args.end(), {"-u", kBrokerUser, "-P", *FConfig.Password});
        if (FConfig.Tls) args.insert(args.end(), {"--cafile", CaFile()});
        return args;
    }

    TBrokerConfig FConfig;
    TTempDir FDir;
    uint16_t FPort = 0;
    bool FStarted = false;  // once started, the port stays
    std::unique_ptr<TChildProcess> FProcess;
};

}  // namespace zeltest
