#pragma once
// The one connection to the MQTT broker, on a thread of its own: the only user of the MQTT library.
// Nothing here waits for the network on the caller's thread: what is published is kept (the latest
// message per topic) until the broker has it, and retained topics are sent again after every
// reconnect, so a broker that stalls, goes or comes back never holds up the host.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zelhost {

struct TMqttSettings {
    std::string Host;
    uint16_t Port = 1883;
    bool Tls = false;
    std::string CaFile;  // Tls: empty means the system's CA store
    std::string User;    // empty: no login
    std::optional<std::string> Password;
    std::string ClientId;
    // Retained "online" on every connect, "offline" as the last will and on Stop.
    std::string StatusTopic;
};

class TMqttLink {
public:
    struct THooks {
        // Connected, lost, retrying in N s, refused: reason (never the password). Link thread.
        std::function<void(std::string_view text)> Notice;
        // A message on a subscribed topic. Link thread.
        std::function<void(std::string topic, std::string payload)> Message;
    };

    // Starts the link's thread and returns at once; it connects, and reconnects after a failure
    // or a loss, waiting 1 s, then twice as long each time up to 60 s.
    TMqttLink(TMqttSettings settings, THooks hooks);
    // Stop(0), if not stopped yet.
    ~TMqttLink();
    TMqttLink(const TMqttLink&) = delete;
    TMqttLink& operator=(const TMqttLink&) = delete;

    // Any thread; never waits for the network. A retained message not yet sent is replaced by a
    // newer one of the same topic, and the latest is sent again after every connect; other messages
    // queue in order (past a bound, the oldest are dropped).
    void Publish(std::string topic, std::string payload, bool retain, int qos);
    // Sends an empty retained message to `topic` once, and forgets the topic.
    void Clear(std::string topic);
    // Subscribes now and after every connect (QoS 1).
    void Subscribe(std::string filter);
    // Sends what is pending and a retained "offline" to the status topic, waiting at most
    // `deadlineMs` for the broker, disconnects cleanly (no last will) and ends the thread.
    void Stop(int deadlineMs);

private:
    struct TState;
    std::shared_ptr<TState> FState;  // shared with the thread, which may outlive a Stop (see there)
};

}  // namespace zelhost
