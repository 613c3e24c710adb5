#pragma once
// A real MQTT broker for the tests: mosquitto on 127.0.0.1 and a free port, with a private config,
// optionally a password or TLS, stopped by its owner. The tests reach it only through the
// command-line clients, so what they see is what any other client sees.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Process.h"

namespace zeltest {

struct TBrokerConfig {
    std::optional<std::string> Password;  // set: only kBrokerUser with this password may connect
    bool Tls = false;                     // a certificate for IP:127.0.0.1, signed by TBroker::CaFile()
};

constexpr const char* kBrokerUser = "zeltest";

struct TMqttMessage {
    std::string Payload;
    bool Retain = false;
    int Qos = 0;
};

class TBroker {
public:
    explicit TBroker(TBrokerConfig config = {}, bool start = true);
    ~TBroker() { Stop(); }
    TBroker(const TBroker&) = delete;
    TBroker& operator=(const TBroker&) = delete;

    // Starts on Port() (the same port every time) and returns once it accepts; throws after 5 s.
    void Start();
    // Ends the broker; it keeps nothing, retained messages are gone.
    void Stop() { FProcess.reset(); }
    uint16_t Port() const noexcept { return FPort; }
    // The CA of every TLS broker of the test program.
    static std::string CaFile();
    // The retained messages matching `filter` now, by topic.
    std::map<std::string, TMqttMessage> Retained(const std::string& filter) const;
    // Publishes each line as one QoS 1 message, not retained, in order.
    void Publish(const std::string& topic, const std::vector<std::string>& lines) const;

private:
    std::vector<std::string> ClientArgs(const char* program) const;

    TBrokerConfig FConfig;
    TTempDir FDir;
    uint16_t FPort = 0;
    bool FStarted = false;  // once started, the port stays
    std::unique_ptr<TChildProcess> FProcess;
};

}  // namespace zeltest
