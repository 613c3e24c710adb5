#pragma once
// A TMqttLink that only records what it is asked, for testing what the bridge asks of it in-process.
#include <string>
#include <vector>

#include "MqttLink.h"

namespace zeltest {

struct TLinkCall {
    std::string Kind;  // "publish", "clear", "subscribe" or "stop"
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Qos = 0;
    bool operator==(const TLinkCall&) const = default;
};

struct TFakeLink {
    zelhost::TMqttSettings Settings;
    zelhost::TMqttLink::THooks Hooks;
    std::vector<TLinkCall> Calls;
};

// The link made last, while it lives; null otherwise.
TFakeLink* CurrentLink();

}  // namespace zeltest
