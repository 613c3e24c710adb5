#pragma once
// Discovery configs: one retained message per bound input of an instance, and one for its "Update
// now" button, that make the sensors of a box appear in a home-automation system on their own.
// Pure: the values come from the settings store, the messages go to the link.
#include <cstdint>
#include <string>
#include <vector>

#include "SettingsStore.h"
#include "Topics.h"

namespace zelhost {

// An input with a variable and a sensor type 1..6 (the low 8 bits of DeviceType, as the module reads it).
struct TBoundInput {
    int Index;             // 0..7: S<Index>
    std::string Name;      // the variable, Windows-1252
    uint8_t Type;          // zel::stTemperature .. zel::stCounter
};

// The bound inputs among an instance's stored values, by index.
std::vector<TBoundInput> BoundInputs(const std::vector<TSettingsStore::TValue>& values);

struct TRetainedMessage {
    std::string Topic;
    std::string Payload;
};

// Where the configs go and what they point at.
struct TDiscoveryNames {
    std::string Prefix;  // the discovery prefix, `homeassistant` by default
    std::string Node;    // NodeId of the client id: unique per zelhost host
    TTopics Topics;      // the bridge's own topics
};

// The configs of one instance: its inputs' in index order, then its button's.
std::vector<TRetainedMessage> DiscoveryConfigs(const TDiscoveryNames& names, uint16_t instance,
                                               const std::vector<TBoundInput>& inputs);

// The config topics a run published last, by instance, kept in a file beside the store (one
// "ID topic" per line) so that the next run can clear those of inputs no longer bound.
struct TPublishedConfig {
    uint16_t Instance;
    std::string Topic;
};
// A missing or unreadable file is an empty list; lines that are not "ID topic" are skipped.
std::vector<TPublishedConfig> ReadPublishedConfigs(const std::string& fileName);
// Atomically (EStoreError).
void WritePublishedConfigs(const std::string& fileName, const std::vector<TPublishedConfig>& configs);
// The sidecar's name for a store.
inline std::string PublishedConfigsFile(const std::string& storeFile) { return storeFile + ".mqtt"; }

}  // namespace zelhost
