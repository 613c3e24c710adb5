// The MQTT link's outbox without a broker: what is sent, in which order, and what is kept for the
// next connect.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "Outbox.h"

using namespace zelhost;

namespace {

// Operations, space-separated: `t=v` puts v to topic t (not retained, QoS 0), `t:=v` puts it
// retained (QoS 1), `-t` clears t, `T` takes one message, `*` takes all, `R` requeues after a
// connect with `s` as the status topic, `N` takes a notice. `cap` bounds both the topics and the
// other messages. The trace lists what the taker saw:
// `t=v` per message (`t=` for a clear), `w` where a put or clear asked to wake the taker, `notice`
// for a notice.
struct TOutboxCase {
    const char* name;
    size_t cap;
    const char* ops;
    const char* trace;
};

const TOutboxCase kOutboxCases[] = {
    {"retained: latest per topic while pending", 10, "a:=1 a:=2 b:=3 a:=4 *", "w a=4 b=3"},
    {"others: every message in order", 10, "d=1 e=2 d=3 *", "w d=1 e=2 d=3"},
    {"retained and clears before the others", 10, "d=1 a:=2 -c e=3 *", "w a=2 c= d=1 e=3"},
    {"one wake per empty to pending", 10, "a:=1 * b:=2 c=3 T d:=4 *", "w a=1 w b=2 d=4 c=3"},
    {"not retained is not resent", 10, "d=x * R *", "w d=x"},
    {"retained resent, status first, then first-put order", 10, "v1:=1 v2:=2 s:=on d=x * v1:=3 R *",
     "w v1=1 v2=2 s=on d=x w s=on v1=3 v2=2"},
    {"still pending follows the retained ones", 10, "a:=1 * d=x b:=2 -c R *", "w a=1 w a=1 b=2 c= d=x"},
    {"clear sends empty once and forgets", 10, "a:=1 * -a * R *", "w a=1 w a="},
    {"clear of a topic never put", 10, "-z * R *", "w z="},
    {"put after clear wins", 10, "a:=1 -a a:=2 * R *", "w a=2 a=2"},
    {"topic cap: new topics dropped, one notice", 2, "a:=1 b:=2 c:=3 d:=4 N N b:=5 *", "w w notice a=1 b=5"},
    {"topic cap counts retained topics", 2, "a:=1 b:=2 * c:=3 R *", "w a=1 b=2 w a=1 b=2"},
    {"topic cap holds for clears", 1, "a:=1 -b N -a *", "w w notice a="},
    {"others beyond the cap: oldest dropped, one notice", 2, "d=1 d=2 d=3 d=4 N N *", "w w notice d=3 d=4"},
};

std::string Trace(const TOutboxCase& c) {
    TOutbox box(c.cap, c.cap);
    std::ostringstream trace;
    auto take = [&] {
        auto m = box.Take();
        if (m) trace << ' ' << m->Topic << '=' << m->Payload;
        return m.has_value();
    };
    std::istringstream ops(c.ops);
    for (std::string op; ops >> op;) {
        bool wake = false;
        if (op == "T") {
            take();
        } else if (op == "*") {
            while (take()) {
            }
        } else if (op == "R") {
            box.Requeue("s");
        } else if (op == "N") {
            if (box.TakeNotice()) trace << " notice";
        } else if (op[0] == '-') {
            wake = box.Clear(op.substr(1));
        } else {
            const size_t eq = op.find('=');
            const bool retained = op[eq - 1] == ':';
            wake = box.Put({op.substr(0, retained ? eq - 1 : eq), op.substr(eq + 1), retained, retained ? 1 : 0});
        }
        if (wake) trace << " w";
    }
    return trace.str().substr(1);
}

class OutboxCase : public ::testing::TestWithParam<TOutboxCase> {};

TEST_P(OutboxCase, Trace) { EXPECT_EQ(Trace(GetParam()), GetParam().trace) << GetParam().ops; }

void PrintTo(const TOutboxCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Rows, OutboxCase, ::testing::ValuesIn(kOutboxCases), [](const auto& param) {
    std::string name;
    for (char ch : std::string(param.param.name)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
});

// Producers on several threads and one taker: each topic's values (retained ones from even threads,
// others from odd ones) reach the taker in the order they were put, and the last one always arrives.
TEST(Outbox, ConcurrentPutsKeepOrderPerTopicAndTheLastValue) {
    constexpr int kThreads = 4, kPuts = 5000;
    TOutbox box;
    std::atomic<int> done{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([&, t] {
            for (int i = 1; i <= kPuts; ++i) box.Put({"t" + std::to_string(t), std::to_string(i), t % 2 == 0, 1});
            ++done;
        });
    std::map<std::string, int> last;
    bool ordered = true;
    auto drain = [&] {
        while (auto m = box.Take()) {
            const int v = std::stoi(m->Payload);
            ordered = ordered && v > last[m->Topic];
            last[m->Topic] = v;
        }
    };
    while (done < kThreads) drain();
    drain();
    for (auto& p : producers) p.join();
    EXPECT_TRUE(ordered);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(last["t" + std::to_string(t)], kPuts);
}

}  // namespace
