#include "Outbox.h"

#include <algorithm>
#include <vector>

namespace zelhost {

bool TOutbox::MarkPending(TEntry& entry) {
    if (entry.Pending) return false;
    entry.Pending = true;
    FPending.push_back(*entry.Topic);
    return FPending.size() == 1 && FStream.empty();
}

TOutbox::TEntry* TOutbox::Find(std::string&& topic, bool& wake) {
    auto it = FEntries.find(topic);
    if (it != FEntries.end()) return &it->second;
    if (FEntries.size() >= FTopicCap) {
        wake = !FTopicDropped;
        if (!FTopicDropped)
            FNotices.push_back("mqtt: more than " + std::to_string(FTopicCap) +
                               " topics: messages to new topics are dropped");
        FTopicDropped = true;
        return nullptr;
    }
    it = FEntries.emplace(std::move(topic), TEntry{}).first;
    it->second.Order = FNextOrder++;
    it->second.Topic = &it->first;
    return &it->second;
}

bool TOutbox::Put(TOutMessage message) {
    std::lock_guard lock(FLock);
    if (!message.Retain) {
        bool wake = FPending.empty() && FStream.empty();
        if (FStream.size() >= FStreamCap) {
            FStream.pop_front();
            if (!FStreamDropped)
                FNotices.push_back("mqtt: more than " + std::to_string(FStreamCap) +
                                   " messages wait for the broker: the oldest debug and log messages are dropped");
            wake = wake || !FStreamDropped;
            FStreamDropped = true;
        }
        FStream.push_back(std::move(message));
        return wake;
    }
    bool wake = false;
    TEntry* entry = Find(std::move(message.Topic), wake);
    if (!entry) return wake;
    TEntry& e = *entry;
    e.Payload = std::move(message.Payload);
    e.Retain = message.Retain;
    e.Qos = message.Qos;
    e.Forget = false;
    return MarkPending(e);
}

bool TOutbox::Clear(std::string topic) {
    std::lock_guard lock(FLock);
    bool wake = false;
    // A topic never put has nothing to forget, but may be on the broker from an earlier run.
    TEntry* entry = Find(std::move(topic), wake);
    if (!entry) return wake;
    TEntry& e = *entry;
    e.Payload.clear();
    e.Retain = true;
    e.Qos = 1;
    e.Forget = true;
    return MarkPending(e);
}

std::optional<TOutMessage> TOutbox::Take() {
    std::lock_guard lock(FLock);
    while (!FPending.empty()) {
        std::string topic = std::move(FPending.front());
        FPending.pop_front();
        auto it = FEntries.find(topic);
        if (it == FEntries.end() || !it->second.Pending) continue;
        TEntry& e = it->second;
        e.Pending = false;
        TOutMessage m{std::move(topic), e.Payload, e.Retain, e.Qos};
        if (e.Forget) FEntries.erase(it);
        return m;
    }
    if (FStream.empty()) return std::nullopt;
    TOutMessage m = std::move(FStream.front());
    FStream.pop_front();
    return m;
}

void TOutbox::Requeue(std::string_view first) {
    std::lock_guard lock(FLock);
    auto resent = [&](const std::string& topic, const TEntry& e) { return !e.Forget && topic != first; };
    std::vector<std::pair<uint64_t, const std::string*>> retained;
    for (const auto& [topic, e] : FEntries)
        if (resent(topic, e)) retained.emplace_back(e.Order, &topic);
    std::sort(retained.begin(), retained.end());
    std::deque<std::string> pending;
    bool firstQueued = false;
    if (auto it = FEntries.find(first); it != FEntries.end() && !it->second.Forget) {
        it->second.Pending = firstQueued = true;
        pending.emplace_back(first);
    }
    for (const auto& [order, topic] : retained) {
        FEntries.find(*topic)->second.Pending = true;
        pending.push_back(*topic);
    }
    // The clears still pending follow, in their order.
    for (std::string& topic : FPending) {
        auto it = FEntries.find(topic);
        if (it != FEntries.end() && it->second.Pending && !(firstQueued && topic == first) &&
            !resent(topic, it->second))
            pending.push_back(std::move(topic));
    }
    FPending = std::move(pending);
}

std::optional<std::string> TOutbox::TakeNotice() {
    std::lock_guard lock(FLock);
    if (FNotices.empty()) return std::nullopt;
    std::string notice = std::move(FNotices.front());
    FNotices.pop_front();
    return notice;
}

bool TOutbox::Empty() const {
    std::lock_guard lock(FLock);
    return FPending.empty() && FStream.empty();
}

}  // namespace zelhost
