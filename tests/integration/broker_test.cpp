// The broker fixture itself, in each of its configurations: what one client publishes, another
// receives, also after a restart on the same port.
#include <gtest/gtest.h>

#include "Broker.h"

using namespace zeltest;

namespace {

struct TFixtureCase {
    const char* name;
    TBrokerConfig config;
};

void PrintTo(const TFixtureCase& c, std::ostream* os) { *os << c.name; }

class BrokerFixture : public ::testing::TestWithParam<TFixtureCase> {};

TEST_P(BrokerFixture, DeliversInOrderAndAgainAfterRestart) {
    TBroker broker(GetParam().config);
    for (int round = 0; round < 2; ++round) {
        auto sub = broker.Subscribe("t/#");
        broker.Publish("t/a", {"one", "two"});
        TMqttMessage m;
        ASSERT_TRUE(sub->Next(m, 5000)) << broker.Log();
        EXPECT_EQ(m.Topic + "=" + m.Payload, "t/a=one");
        ASSERT_TRUE(sub->Next(m, 5000));
        EXPECT_EQ(m.Topic + "=" + m.Payload, "t/a=two");
        EXPECT_FALSE(m.Retain);
        EXPECT_EQ(m.Qos, 1);
        const uint16_t port = broker.Port();
        broker.Restart();
        EXPECT_EQ(broker.Port(), port);
    }
    EXPECT_TRUE(broker.Retained("t/#").empty());
}

INSTANTIATE_TEST_SUITE_P(Configs, BrokerFixture,
                         ::testing::Values(TFixtureCase{"plain", {}}, TFixtureCase{"password", {"s3cret", false}},
                                           TFixtureCase{"tls", {std::nullopt, true}}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
