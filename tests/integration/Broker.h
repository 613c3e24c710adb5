#pragma once
// A real MQTT broker for the tests: mosquitto on 127.0.0.1 and a free port, with a private config,
// optionally a password or TLS, stopped by its owner. The tests talk to it only through the
// command-line clients, so what they see is what any other client sees.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Process.h"

namespace zeltest {

struct TBrokerConfig {
    // Set: only the user kBrokerUser with this password may connect.
    std::optional<std::string> Password;
    // A TLS listener with a server certificate for IP:127.0.0.1, signed by TBroker::CaFile().
    bool Tls = false;
};

constexpr const char* kBrokerUser = "zeltest";

// One message as a subscriber received it.
struct TMqttMessage {
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Qos = 0;
};

// A running subscription: a mosquitto_sub child printing one JSON object per message.
class TSubscription {
public:
    explicit TSubscription(const std::vector<std::string>& args) : FChild(args) {}
    // Reads messages (first the retained ones the broker sent on subscribing) until one on `topic`
    // with `payload` came; false when none did within the time.
    bool WaitFor(const std::string& topic, const std::string& payload, int timeoutMs);

private:
    friend class TBroker;
    // Reads until the message on `probe`, keeping what came before it for WaitFor.
    bool ReadUntil(const std::string& probe, int timeoutMs);
    bool Read(TMqttMessage& message, int timeoutMs);

    TChildProcess FChild;
    std::vector<TMqttMessage> FBacklog;
    size_t FBacklogNext = 0;
};

class TBroker {
public:
    explicit TBroker(TBrokerConfig config = {}, bool start = true);
    // Stops the broker if it runs.
    ~TBroker();
    TBroker(const TBroker&) = delete;
    TBroker& operator=(const TBroker&) = delete;

    // Starts on Port() and returns once it accepts connections; throws when it does not in 5 s.
    void Start();
    // Ends the broker and waits for it. It keeps nothing: retained messages are gone.
    void Stop();
    void Restart() {
        Stop();
        Start();
    }

    uint16_t Port() const noexcept { return FPort; }
    // The CA certificate that signed the TLS listener's certificate (the same for every broker of a
    // test program).
    static std::string CaFile();
    // Every retained message matching `filter` now, in the broker's order.
    std::vector<TMqttMessage> Retained(const std::string& filter) const;
    // A subscription to `filter` that is active when this returns.
    std::unique_ptr<TSubscription> Subscribe(const std::string& filter) const;
    // Publishes each line as one QoS 1 message, not retained, in order.
    void Publish(const std::string& topic, const std::vector<std::string>& lines) const;

private:
    // What the broker logged so far.
    std::string Log() const;
    std::vector<std::string> ClientArgs(const std::string& program) const;

    TBrokerConfig FConfig;
    TTempDir FDir;
    std::string FConfText;  // the config, with @PORT@ for the port
    uint16_t FPort = 0;
    bool FStarted = false;  // once started, the port stays
    std::unique_ptr<TChildProcess> FProcess;
};

}  // namespace zeltest
