#pragma once
// The bridge's topic names and payloads, without any network: what a run's events become on the
// broker. Names from the module are Windows-1252 bytes; topics and payloads are UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelhost {

// One valid topic level for a variable name: `%`, `/`, `+`, `#`, the control bytes and the five
// bytes Windows-1252 leaves unassigned become `%XX` (the byte in uppercase hex), every other byte
// its UTF-8 character. Different names never give the same level: a `%` in it always starts an
// escape, and the bytes left as they are map to distinct characters.
std::string TopicLevel(std::string_view win1252);

// A discovery node or object id (letters, digits, `-` and `_` only) for a client id: `_` and every
// byte outside letters, digits and `-` become `_XX`, so different client ids give different ids.
std::string NodeId(std::string_view clientId);

// The topics under one prefix (`zelhost` unless the options say otherwise).
class TTopics {
public:
    explicit TTopics(std::string prefix) : FPrefix(std::move(prefix)) {}

    std::string Status() const { return FPrefix + "/status"; }
    std::string Log() const { return FPrefix + "/log"; }
    std::string Variable(std::string_view win1252Name) const { return FPrefix + "/variable/" + TopicLevel(win1252Name); }
    std::string InstanceStatus(uint32_t id) const { return Instance(id) + "/status"; }
    std::string InstanceDebug(uint32_t id) const { return Instance(id) + "/debug"; }
    std::string Command(uint32_t id) const { return Instance(id) + "/command"; }
    // What the bridge subscribes to: every instance's command topic.
    std::string CommandFilter() const { return FPrefix + "/instance/+/command"; }
    // The instance a command topic names; nothing for any other topic, a number with a sign or
    // leading zero, or one outside 0..65535.
    std::optional<uint16_t> CommandInstance(std::string_view topic) const;

private:
    std::string Instance(uint32_t id) const { return FPrefix + "/instance/" + std::to_string(id); }

    std::string FPrefix;
};

// A switch's state as the topic carries it.
inline std::string_view SwitchPayload(bool on) { return on ? "ON" : "OFF"; }
// A log line as one JSON object: {"code":N,"sender":"...","text":"..."}, texts in UTF-8.
std::string LogPayload(int32_t code, std::string_view win1252Sender, std::string_view win1252Text);

}  // namespace zelhost
