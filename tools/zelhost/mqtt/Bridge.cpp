#include "Bridge.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "Discovery.h"
#include "MqttLink.h"
#include "Options.h"
#include "Topics.h"
#include "device/IO.ALL3000_Types.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

// A topic's length is a 16-bit field of the protocol.
constexpr size_t kMaxTopicBytes = 65535;
// How much of an unknown command a notice shows.
constexpr size_t kShownCommandBytes = 64;

enum class TCommandKind { Update, Detect };

// The payload that asks for the command.
const char* CommandName(TCommandKind kind) { return kind == TCommandKind::Update ? "update" : "detect"; }

// A payload from the broker for a notice: printable ASCII as it is, other bytes as %XX, cut short.
std::string Shown(std::string_view payload) {
    std::string shown;
    for (char ch : payload.substr(0, kShownCommandBytes)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '%') {
            shown += ch;
        } else {
            constexpr char hex[] = "0123456789ABCDEF";
            shown += '%';  // escaped like a topic level, so a notice stays one line
            shown += hex[c >> 4];
            shown += hex[c & 0xF];
        }
    }
    if (payload.size() > kShownCommandBytes) shown += "...";
    return shown;
}

// A result code as the host's other notices show it.
std::string Hex(zel::HRESULT r) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(r));
    return text;
}

class TMqttBridge final : public TRunObserver, public TEventListener {
public:
    TMqttBridge(const TMqttOptions& options, TMqttSettings settings, const TRunContext& context)
        : FContext(context), FTopics(options.Prefix) {
        if (options.DiscoveryPrefix)
            FDiscovery.emplace(TDiscoveryNames{*options.DiscoveryPrefix, NodeId(settings.ClientId), FTopics});
        TMqttLink::THooks hooks;
        hooks.Notice = [&events = FContext.Events](std::string_view text) { events.Notice(text); };
        // Commands run on the main thread, where the module lives. They wait in an inbox of ours,
        // not as a post each: posts already waiting are not delivered while a running command
        // handles messages, so a burst that came at once would run command by command.
        hooks.Message = [this, alive = FAlive](std::string topic, std::string payload) {
            bool first;
            {
                std::lock_guard lock(FInboxLock);
                first = FInbox.empty();
                FInbox.emplace_back(std::move(topic), std::move(payload));
            }
            if (first)
                FContext.Toolkit.Post([this, alive] {
                    if (*alive) TakeCommands();
                });
        };
        FLink = std::make_unique<TMqttLink>(std::move(settings), std::move(hooks));
        FContext.Events.SetListener(this);
    }

    ~TMqttBridge() override {
        *FAlive = false;
        Stop();
    }

    void InstancesCreated(std::span<const TRunningInstance> instances) override {
        for (const TRunningInstance& i : instances) FInstances[i.ID] = i.Module;
        std::vector<uint16_t> ids;
        for (const auto& [id, module] : FInstances) ids.push_back(id);
        PublishDiscovery(ids);
        FLink->Subscribe(FTopics.CommandFilter());
    }

    void InstancesReleasing() override {
        FReleasing = true;
        FQueue.clear();
    }

    void Stop() override {
        if (FStopped) return;
        FStopped = true;
        FContext.Events.SetListener(nullptr);
        FLink->Stop(kStopDeadlineMs);
    }

    void OnLog(int32_t code, std::string_view sender, std::string_view text) noexcept override {
        try {
            FLink->Publish(FTopics.Log(), LogPayload(code, sender, text), false, 0);
        } catch (...) {  // a message that could not be queued (no memory) must not reach the module
        }
    }

    void OnDebug(uint32_t instance, std::string_view text) noexcept override {
        try {
            FLink->Publish(FTopics.InstanceDebug(instance), zel::Win1252ToUtf8(text), false, 0);
        } catch (...) {  // as in OnLog
        }
    }

    void OnVariableFloat(std::string_view name, float value) noexcept override { PublishVariable(name, FormatFloat(value)); }
    void OnVariableBoolean(std::string_view name, bool value) noexcept override {
        PublishVariable(name, std::string(SwitchPayload(value)));
    }

    void OnStatus(uint32_t instance, int32_t status) noexcept override {
        try {
            FLink->Publish(FTopics.InstanceStatus(instance), std::to_string(status), true, 1);
        } catch (...) {  // as in OnLog
        }
    }

private:
    static constexpr int kStopDeadlineMs = 2000;

    // Variables are written by the module, on the main thread: so is the cache of their topics.
    void PublishVariable(std::string_view name, std::string payload) noexcept {
        try {
            auto topic = FVariableTopics.find(name);
            if (topic == FVariableTopics.end()) {
                topic = FVariableTopics.emplace(std::string(name), FTopics.Variable(name)).first;
                if (topic->second.size() > kMaxTopicBytes) {
                    FContext.Events.Notice("mqtt: the variable " + std::string(name.substr(0, 64)) +
                                           "... has a name too long for a topic: not published");
                    topic->second.clear();
                }
            }
            if (!topic->second.empty()) FLink->Publish(topic->second, std::move(payload), true, 1);
        } catch (...) {  // as in OnLog
        }
    }

    // Publishes the discovery configs of these instances from the store, clears those they had
    // last time and no longer have, and remembers the new ones beside the store.
    void PublishDiscovery(const std::vector<uint16_t>& ids) {
        if (!FDiscovery) return;
        try {
            std::vector<TPublishedConfig> published;
            for (uint16_t id : ids) {
                std::vector<TSettingsStore::TValue> values;
                {
                    std::lock_guard lock(FContext.StoreLock);
                    values = FContext.Store.Values(id);
                }
                for (TRetainedMessage& m : DiscoveryConfigs(*FDiscovery, id, BoundInputs(values))) {
                    published.push_back({id, m.Topic});
                    FLink->Publish(std::move(m.Topic), std::move(m.Payload), true, 1);
                }
            }
            const std::string file = PublishedConfigsFile(FContext.Store.FileName());
            std::vector<TPublishedConfig> remembered;
            for (TPublishedConfig& old : ReadPublishedConfigs(file)) {
                // Another run's instances keep theirs.
                if (std::find(ids.begin(), ids.end(), old.Instance) == ids.end()) {
                    remembered.push_back(std::move(old));
                } else if (std::none_of(published.begin(), published.end(),
                                        [&](const TPublishedConfig& now) { return now.Topic == old.Topic; })) {
                    FLink->Clear(old.Topic);
                }
            }
            remembered.insert(remembered.end(), published.begin(), published.end());
            WritePublishedConfigs(file, remembered);
        } catch (const std::exception& e) {
            FContext.Events.Notice(std::string("mqtt: discovery: ") + e.what());
        }
    }

    void TakeCommands() {
        std::vector<std::pair<std::string, std::string>> batch;
        {
            std::lock_guard lock(FInboxLock);
            batch.swap(FInbox);
        }
        for (const auto& [topic, payload] : batch) Accept(topic, payload);
        // Both commands process messages while they run, so later commands arrive inside them:
        // those wait in the queue for the running one, which then runs them in turn.
        if (FRunning) return;
        FRunning = true;
        while (!FQueue.empty() && !FReleasing) {
            auto [next, nextKind] = FQueue.front();
            FQueue.pop_front();
            RunCommand(next, nextKind);
        }
        FRunning = false;
    }

    void Accept(const std::string& topic, const std::string& payload) {
        std::optional<uint16_t> id = FTopics.CommandInstance(topic);
        if (FReleasing || !id) return;
        const std::string who = "mqtt: instance " + std::to_string(*id) + ": ";
        if (!FInstances.contains(*id)) {
            FContext.Events.Notice(who + "not running here: command ignored");
            return;
        }
        TCommandKind kind;
        if (payload == "update") {
            kind = TCommandKind::Update;
        } else if (payload == "detect") {
            kind = TCommandKind::Detect;
        } else {
            FContext.Events.Notice(who + "command \"" + Shown(payload) + "\" ignored");
            return;
        }
        if (std::find(FQueue.begin(), FQueue.end(), std::pair{*id, kind}) != FQueue.end()) {
            FContext.Events.Notice(who + "\"" + CommandName(kind) + "\" is already queued");
            return;
        }
        FQueue.emplace_back(*id, kind);
    }

    void RunCommand(uint16_t id, TCommandKind kind) {
        const std::string who = "mqtt: instance " + std::to_string(id) + ": ";
        zel::IZELModule* module = FInstances.at(id);
        void* face = nullptr;
        zel::HRESULT r = zel::E_FAIL;
        try {
            r = module->QueryInterface(zel::IID_IZELALL3000, &face);
            if (zel::Succeeded(r) && face) {
                auto* config = static_cast<zel::IZELALL3000*>(face);
                r = kind == TCommandKind::Update ? config->UpdateNow() : config->DetectSensors();
                config->Release();
                if (kind == TCommandKind::Detect && zel::Succeeded(r)) r = module->SaveSettings();
            } else if (zel::Succeeded(r)) {
                r = zel::E_FAIL;
            }
        } catch (...) {  // the module's own failure: reported below like a failed result
            r = zel::E_FAIL;
        }
        if (zel::Failed(r)) {
            FContext.Events.Notice(who + CommandName(kind) + " failed (" + Hex(r) + ")");
            return;
        }
        if (kind == TCommandKind::Detect) {
            PublishDiscovery({id});
            // Detection runs rarely and shows nothing else when it worked.
            FContext.Events.Notice(who + "sensors detected and saved");
        }
    }

    TRunContext FContext;
    TTopics FTopics;
    std::optional<TDiscoveryNames> FDiscovery;
    // Guards commands posted to the main thread that run after the bridge is gone.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    std::mutex FInboxLock;
    std::vector<std::pair<std::string, std::string>> FInbox;  // topic, payload; from the link's thread
    std::map<std::string, std::string, std::less<>> FVariableTopics;
    std::map<uint16_t, zel::IZELModule*> FInstances;
    // At most one of each kind per instance, in arrival order.
    std::deque<std::pair<uint16_t, TCommandKind>> FQueue;
    bool FRunning = false;
    bool FReleasing = false;
    bool FStopped = false;
    // Last, so it goes first: its thread calls the hooks above.
    std::unique_ptr<TMqttLink> FLink;
};

}  // namespace

std::unique_ptr<TRunObserver> MakeMqttBridge(const TRunOptions& options, const TRunContext& context) {
    const TMqttOptions& mqtt = options.Mqtt.value();
    TMqttSettings settings;
    settings.Host = mqtt.Host;
    settings.Port = mqtt.Port;
    settings.Tls = mqtt.Tls;
    settings.CaFile = mqtt.CaFile;
    settings.User = mqtt.User;
    settings.Password = LoadMqttPassword(mqtt);
    settings.ClientId = mqtt.ClientId.empty() ? DefaultClientId() : mqtt.ClientId;
    settings.StatusTopic = TTopics(mqtt.Prefix).Status();
    return std::make_unique<TMqttBridge>(mqtt, std::move(settings), context);
}

}  // namespace zelhost
