#pragma once
// What the MQTT link still has to send: the latest message of each retained topic (kept for the
// next connect), and the other messages (debug and log lines) in the order they came. Any thread
// puts messages in; the link's thread takes them out. Memory is bounded, however long the broker
// is gone: one entry per retained topic, at most a fixed count of topics, and at most a fixed count
// of other messages, the oldest dropped first.
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
    // Messages not retained waiting at once: a debug line per update of 500 instances at Interval 10
    // for over six minutes.
    static constexpr size_t kDefaultStreamCap = 20000;

    explicit TOutbox(size_t topicCap = kDefaultTopicCap, size_t streamCap = kDefaultStreamCap)
        : FTopicCap(topicCap), FStreamCap(streamCap) {}

    // A retained message replaces the topic's message if it was not taken yet; another one queues
    // behind the others. True when the taker must be woken: nothing was pending, or a message was
    // dropped for the first time (see TakeNotice).
    bool Put(TOutMessage message);
    // Sends an empty retained message to the topic once, then forgets it (not sent on connect).
    bool Clear(std::string topic);

    // The next message: retained topics and clears first, oldest first, then the other messages in
    // their order. Retained topics stay known for Requeue.
    std::optional<TOutMessage> Take();
    // After a connect: every known retained topic is pending again, `first` (if known) before the
    // others, then in the order they were first put; the clears still pending follow.
    void Requeue(std::string_view first);
    // A notice about dropped topics or messages, once each.
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
    const size_t FStreamCap;
    mutable std::mutex FLock;
    std::map<std::string, TEntry, std::less<>> FEntries;  // retained topics and clears
    std::deque<std::string> FPending;                       // of FEntries, each at most once
    std::deque<TOutMessage> FStream;                        // the others
    uint64_t FNextOrder = 0;
    bool FTopicDropped = false, FStreamDropped = false;
    std::deque<std::string> FNotices;
};

}  // namespace zelhost
