// The bridge in-process, over a link that records what it is asked: events to topics, discovery
// from the store with stale configs cleared per instance, and commands that cannot run. Commands
// that run and wait their turn are tested against a real broker (mqtt_run_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>

#include "Bridge.h"
#include "Discovery.h"
#include "FakeMqttLink.h"
#include "Process.h"
#include "device/IO.ALL3000_Types.h"

using namespace zelhost;
using namespace zeltest;

namespace {

// Post queues the work; RunPosted is the event loop's turn, also the nested one of a command.
class TFakeToolkit final : public TToolkit {
public:
    int Run() override { return 0; }
    void Quit() override {}
    void QuitAfter(int) override {}
    void Post(std::function<void()> work) override { FPosted.push_back(std::move(work)); }
    void RunPosted() override {
        while (!FPosted.empty()) {
            auto work = std::move(FPosted.front());
            FPosted.pop_front();
            work();
        }
    }
    std::unique_ptr<TWatch> WatchReadable(int, std::function<void()>) override { return nullptr; }
    bool HasPage() override { return false; }
    void ScreenshotPage(const std::string&, const std::string&) override {}
    void QuitWhenPageCloses() override {}
    zel::HRESULT ChooseVariable(uint8_t, const std::vector<std::string>&, std::string&) override { return zel::E_FAIL; }

private:
    std::deque<std::function<void()>> FPosted;
};

// An instance that counts its updates and saves, answering every command with Result.
class TFakeBox final : public zel::IZELALL3000 {
public:
    int Updates = 0, Saves = 0;
    zel::HRESULT Result = zel::S_OK;
    std::function<void()> OnSave;

    zel::HRESULT QueryInterface(const zel::TGUID& iid, void** obj) override {
        *obj = iid == zel::IID_IZELALL3000 ? this : nullptr;
        return *obj ? zel::S_OK : zel::E_NOINTERFACE;
    }
    int32_t AddRef() override { return 2; }
    int32_t Release() override { return 1; }
    zel::HRESULT MessageSink(void*) override { return zel::E_NOTIMPL; }
    zel::HRESULT ExchangeCallbacks(zel::TZELCallbackPair&) override { return zel::E_NOTIMPL; }
    zel::HRESULT ShowPropertyPage() override { return zel::E_NOTIMPL; }
    zel::HRESULT HidePropertyPage() override { return zel::S_OK; }
    zel::HRESULT LoadSettings() override { return zel::S_OK; }
    zel::HRESULT SaveSettings() override {
        ++Saves;
        if (OnSave) OnSave();
        return zel::S_OK;
    }
    int32_t GetRefCount() override { return 1; }
    zel::HRESULT GetConfiguration(zel::TZELALL3000Settings&) override { return zel::E_NOTIMPL; }
    zel::HRESULT SetConfiguration(const zel::TZELALL3000Settings&) override { return zel::E_NOTIMPL; }
    zel::HRESULT DetectSensors() override { return Result; }
    zel::HRESULT UpdateNow() override {
        ++Updates;
        return Result;
    }
};

// One run's context around the bridge, with instance 1 a TFakeBox.
struct TBridgeRun {
    TTempDir Dir;
    TSettingsStore Store{Dir.File("store.xml")};
    std::mutex StoreLock;
    std::vector<std::string> Lines;
    TEventPrinter Events{true, [this](std::string_view line) { Lines.emplace_back(line); }};
    TFakeToolkit Toolkit;
    TRunOptions Options;
    TFakeBox Box;
    std::unique_ptr<TRunObserver> Bridge;

    explicit TBridgeRun(std::optional<std::string> discovery = std::nullopt) {
        Options.Mqtt.emplace();
        Options.Mqtt->Host = "127.0.0.1";
        Options.Mqtt->Prefix = "p/q";
        Options.Mqtt->ClientId = "box.1";
        Options.Mqtt->DiscoveryPrefix = std::move(discovery);
    }
    void Start(std::vector<uint16_t> ids = {1}) {
        Bridge = MakeMqttBridge(Options, {Events, Toolkit, Store, StoreLock});
        std::vector<TRunningInstance> instances;
        for (uint16_t id : ids) instances.push_back({id, &Box});
        Bridge->InstancesCreated(instances);
    }
    TFakeLink& Link() { return *CurrentLink(); }
    std::vector<TLinkCall> Calls(const std::string& kind) {
        std::vector<TLinkCall> calls;
        for (const TLinkCall& c : Link().Calls)
            if (c.Kind == kind) calls.push_back(c);
        return calls;
    }
    // A message from the broker, as the link thread delivers it, then the loop's turn.
    void Command(const std::string& payload, uint16_t instance = 1) {
        Link().Hooks.Message("p/q/instance/" + std::to_string(instance) + "/command", payload);
        Toolkit.RunPosted();
    }
    int Notices(const std::string& fragment) const {
        return static_cast<int>(std::count_if(Lines.begin(), Lines.end(), [&](const std::string& l) {
            return l.find(R"("sender":"zelhost")") != std::string::npos && l.find(fragment) != std::string::npos;
        }));
    }
};

// The one call without payload that a list should be.
std::vector<TLinkCall> Calls1(const std::string& kind, const std::string& topic) { return {{kind, topic, "", false, 0}}; }

void Bind(TSettingsStore& store, uint16_t id, int input, const std::string& name, const std::string& type) {
    const std::string section = "S" + std::to_string(input);
    std::vector<std::string_view> path{"Settings", section};
    ASSERT_TRUE(store.Write(id, path, "VarName", name));
    ASSERT_TRUE(store.Write(id, path, "DeviceType", type));
}

}  // namespace

TEST(MqttBridge, EventsBecomeTopicsWithTheirRetainFlagAndQos) {
    TBridgeRun run;
    run.Start();
    const TFakeLink& link = run.Link();
    EXPECT_EQ(link.Settings.Host, "127.0.0.1");
    EXPECT_EQ(link.Settings.ClientId, "box.1");
    EXPECT_EQ(link.Settings.StatusTopic, "p/q/status");
    EXPECT_EQ(link.Settings.Password, std::nullopt);
    EXPECT_EQ(run.Calls("subscribe"), Calls1("subscribe", "p/q/instance/+/command"));

    const struct {
        std::function<void(TEventPrinter&)> event;
        TLinkCall call;
    } rows[] = {
        {[](auto& e) { e.VariableFloat("Temp/1", 21.5f); }, {"publish", "p/q/variable/Temp%2F1", "21.5", true, 1}},
        {[](auto& e) { e.VariableFloat("50%", 0.1f); }, {"publish", "p/q/variable/50%25", "0.1", true, 1}},
        {[](auto& e) { e.VariableFloat("T\x81", -3e-5f); }, {"publish", "p/q/variable/T%81", "-3e-05", true, 1}},
        {[](auto& e) { e.VariableBoolean("Door", true); }, {"publish", "p/q/variable/Door", "ON", true, 1}},
        {[](auto& e) { e.VariableBoolean("Door", false); }, {"publish", "p/q/variable/Door", "OFF", true, 1}},
        {[](auto& e) { e.Status(1, 102); }, {"publish", "p/q/instance/1/status", "102", true, 1}},
        {[](auto& e) { e.Debug(70000, "T\xB0"); }, {"publish", "p/q/instance/70000/debug", "T\u00B0", false, 0}},
        {[](auto& e) { e.Log(10021, "ALL3000 #1", "Updating..."); },
         {"publish", "p/q/log", R"({"code":10021,"sender":"ALL3000 #1","text":"Updating..."})", false, 0}},
    };
    for (const auto& row : rows) {
        run.Link().Calls.clear();
        row.event(run.Events);
        EXPECT_EQ(run.Link().Calls, std::vector<TLinkCall>{row.call}) << row.call.Topic;
    }

    // After Stop, events no longer reach the link, and destroying the bridge stops nothing twice.
    run.Link().Calls.clear();
    run.Bridge->Stop();
    run.Events.VariableFloat("Temp/1", 1.0f);
    EXPECT_EQ(run.Link().Calls, Calls1("stop", ""));
    run.Bridge.reset();
    EXPECT_EQ(CurrentLink(), nullptr);
}

TEST(MqttBridge, DiscoveryPublishesTheRunsInstancesAndClearsWhatIsNoLongerBound) {
    TBridgeRun run("ha");
    Bind(run.Store, 1, 0, "Outside", "1");
    Bind(run.Store, 1, 1, "Door", "4");
    Bind(run.Store, 2, 0, "Other", "1");  // not in this run
    const std::string sidecar = PublishedConfigsFile(run.Store.FileName());
    WritePublishedConfigs(sidecar, {{1, "ha/sensor/box_2E1/i1_s5/config"}, {3, "ha/sensor/box_2E1/i3_s0/config"}});
    run.Start();

    std::vector<std::string> published;
    for (const TLinkCall& c : run.Calls("publish")) {
        EXPECT_TRUE(c.Retain && c.Qos == 1) << c.Topic;
        published.push_back(c.Topic);
    }
    EXPECT_EQ(published, (std::vector<std::string>{"ha/sensor/box_2E1/i1_s0/config",
                                                    "ha/binary_sensor/box_2E1/i1_s1/config",
                                                    "ha/button/box_2E1/i1_update/config"}));
    EXPECT_EQ(run.Calls("clear"), Calls1("clear", "ha/sensor/box_2E1/i1_s5/config"));
    auto remembered = ReadPublishedConfigs(sidecar);
    ASSERT_EQ(remembered.size(), 4u);
    EXPECT_EQ(remembered[0].Instance, 3);  // another run's instance keeps its config
    EXPECT_EQ(remembered[2].Topic, "ha/binary_sensor/box_2E1/i1_s1/config");
    run.Bridge.reset();

    // The next run, with the switch unbound: its config is cleared, the others stay.
    Bind(run.Store, 1, 1, "", "4");
    run.Start();
    EXPECT_EQ(run.Calls("clear"), Calls1("clear", "ha/binary_sensor/box_2E1/i1_s1/config"));
    EXPECT_EQ(ReadPublishedConfigs(sidecar).size(), 3u);
}

TEST(MqttBridge, CommandsThatCannotRunAreNoticesAndNothingRunsAfterRelease) {
    TBridgeRun run("ha");
    Bind(run.Store, 1, 0, "Outside", "1");
    run.Start();

    run.Command("update", 9);
    EXPECT_EQ(run.Notices("instance 9: not running here"), 1);
    run.Command("up\ndate");  // shown escaped, never as a line break in the notice
    EXPECT_EQ(run.Notices(R"(instance 1: command \"up%0Adate\" ignored)"), 1);
    run.Link().Hooks.Message("p/q/instance/1/status", "update");  // not a command topic
    run.Toolkit.RunPosted();

    run.Box.Result = zel::E_FAIL;
    run.Command("update");
    EXPECT_EQ(run.Notices("instance 1: update failed (0x80004005)"), 1);
    run.Command("detect");
    EXPECT_EQ(run.Notices("instance 1: detect failed (0x80004005)"), 1);
    EXPECT_EQ(run.Box.Saves, 0) << "a failed detection saves nothing";
    EXPECT_EQ(run.Box.Updates, 1);

    // A detection that changed a binding publishes the instance's configs again from the store.
    run.Box.Result = zel::S_OK;
    run.Box.OnSave = [&] { Bind(run.Store, 1, 0, "Outside", "3"); };
    run.Link().Calls.clear();
    run.Command("detect");
    auto published = run.Calls("publish");
    ASSERT_EQ(published.size(), 3u);  // the sensor's and the button's configs, and the notice on p/q/log
    EXPECT_EQ(published[0].Topic, "ha/sensor/box_2E1/i1_s0/config");
    EXPECT_NE(published[0].Payload.find(R"("device_class":"humidity")"), std::string::npos);
    EXPECT_EQ(published[2].Topic, "p/q/log");

    // A command posted before the release runs after it: it is dropped.
    run.Link().Hooks.Message("p/q/instance/1/command", "update");
    run.Bridge->InstancesReleasing();
    run.Toolkit.RunPosted();
    EXPECT_EQ(run.Box.Updates, 1);
}
