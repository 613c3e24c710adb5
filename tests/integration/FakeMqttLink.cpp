#include "FakeMqttLink.h"

namespace zeltest {
namespace {
TFakeLink* gCurrent = nullptr;
}
TFakeLink* CurrentLink() { return gCurrent; }
}  // namespace zeltest

namespace zelhost {

struct TMqttLink::TState {
    zeltest::TFakeLink Fake;
};

TMqttLink::TMqttLink(TMqttSettings settings, THooks hooks) : FState(std::make_unique<TState>()) {
    FState->Fake.Settings = std::move(settings);
    FState->Fake.Hooks = std::move(hooks);
    zeltest::gCurrent = &FState->Fake;
}

TMqttLink::~TMqttLink() {
    if (zeltest::gCurrent == &FState->Fake) zeltest::gCurrent = nullptr;
}

void TMqttLink::Publish(std::string topic, std::string payload, bool retain, int qos) {
    FState->Fake.Calls.push_back({"publish", std::move(topic), std::move(payload), retain, qos});
}

void TMqttLink::Clear(std::string topic) { FState->Fake.Calls.push_back({"clear", std::move(topic), "", false, 0}); }

void TMqttLink::Subscribe(std::string filter) { FState->Fake.Calls.push_back({"subscribe", std::move(filter), "", false, 0}); }

void TMqttLink::Stop(int) { FState->Fake.Calls.push_back({"stop", "", "", false, 0}); }

}  // namespace zelhost
