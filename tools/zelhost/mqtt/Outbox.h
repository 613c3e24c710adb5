#pragma once
// What the MQTT link still has to send: the latest message per topic, and the retained topics'
// latest messages for the next connect. Any thread puts messages in; the link's thread takes them
// out. Memory is bounded by the number of topics (one entry each, at most a fixed count), however
// long the broker is gone.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace zelhost {

struct TOutMessage {
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Qos = 0;
};

class TOutbox {
public:
    // More topics than this are dropped (with one notice): a bug upstream, not a home server's load.
    static constexpr size_t kDefaultTopicCap = 200000;

    explicit TOutbox(size_t topicCap = kDefaultTopicCap) : FTopicCap(topicCap) {}

    // Replaces the topic's message if it was not taken yet. True when the taker must be woken: the
    // pending set was empty, or a new topic was dropped for the first time (see TakeNotice).
    bool Put(TOutMessage message);
    // Sends an empty retained message to the topic once, then forgets it (not sent on connect).
    bool Clear(std::string topic);

    // The oldest pending message, no longer pending; retained topics stay known for Requeue.
    std::optional<TOutMessage> Take();
    // After a connect: every known retained topic is pending again, `first` (if known) before the
    // others, then in the order they were first put; the messages still pending follow.
    void Requeue(std::string_view first);
    // The notice about dropped topics, once.
    std::optional<std::string> TakeNotice();
    bool Empty() const;

private:
    struct TEntry {
        std::string Payload;
        bool Retain = false;
        int Qos = 0;
        bool Pending = false;
        bool Forget = false;  // a Clear: forgotten once taken
        uint64_t Order = 0;   // when the topic was first put
        const std::string* Topic = nullptr;  // the map's key
    };
    // The topic's entry, made if there is room; null (and `wake` set on the first such drop) if not.
    TEntry* Find(std::string&& topic, bool& wake);
    // Marks the entry pending; true when nothing was pending before.
    bool MarkPending(TEntry& entry);

    const size_t FTopicCap;
    mutable std::mutex FLock;
    std::map<std::string, TEntry, std::less<>> FEntries;
    std::deque<std::string> FPending;  // topics, each at most once
    uint64_t FNextOrder = 0;
    bool FDropped = false;
    bool FDropNoticeDue = false;
};

}  // namespace zelhost
