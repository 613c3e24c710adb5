#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FakeHost.h"
#include "Held.h"
#include "device/IO.ALL3000_Interface.h"
#include "platform/EventLoop.h"

using namespace zel;
using namespace zel::test;

namespace {

constexpr auto kOtherName = MakeConstString("Box");

TZELALL3000Settings ConfigurationOf(IZELModule* module) {
    TZELALL3000Settings c;
    IZELALL3000* cfg = ConfigOf(module);
    EXPECT_EQ(cfg->GetConfiguration(c), S_OK);
    cfg->Release();
    return c;
}

void StoreInterval(FakeHost& host, uint16_t id, int32_t interval) {
    host.settings.integers[FakeSettings::Key(id, "Settings/Interval")] = interval;
}

// The 18 writes of a configuration, in the order the store must receive them.
std::vector<std::string> ExpectedWrites(uint16_t id, const std::string& ip, int32_t interval,
                                        const std::vector<std::pair<std::string, int>>& devices) {
    const std::string p = std::to_string(id) + ":Settings/";
    std::vector<std::string> w{p + "IPAddress='" + ip + "'", p + "Interval=" + std::to_string(interval)};
    for (int i = 0; i < 8; ++i) {
        const std::string s = p + "S" + std::to_string(i) + "/";
        w.push_back(s + "VarName='" + devices[static_cast<size_t>(i)].first + "'");
        w.push_back(s + "DeviceType=" + std::to_string(devices[static_cast<size_t>(i)].second));
    }
    return w;
}

const std::vector<std::pair<std::string, int>> kUnbound(8, {"", 0});

bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        WaitForMessages(20);
    }
    return true;
}

}  // namespace

// ---- settings ----------------------------------------------------------------------------------

TEST(Settings, EmptyStoreGivesDefaults) {
    FakeHost host;  // nothing stored; the kernel state keeps any device traffic off
    {
        Held inst(host, 1);
        TZELALL3000Settings c = ConfigurationOf(inst.Module());
        EXPECT_EQ(c.IPAddress.View(), "192.168.20.1");
        EXPECT_EQ(c.Interval, 60);
        for (const auto& d : c.Devices) {
            EXPECT_EQ(d.DeviceType, stNone);
            EXPECT_TRUE(d.VarName.Empty());
        }
        EXPECT_EQ(host.settings.reads, 18);
    }
    EXPECT_TRUE(host.AllReleased());
}

TEST(Settings, EverySuccessCodeIsASuccess) {
    FakeHost host;
    host.SeedLoopback(2);
    StoreInterval(host, 2, 42);
    host.settings.readResult = 1;  // S_FALSE: a success, not S_OK
    host.kernel.queryResult = 1;
    {
        Held inst(host, 2);
        TZELALL3000Settings c = ConfigurationOf(inst.Module());
        EXPECT_EQ(c.IPAddress.View(), "127.0.0.1");
        EXPECT_EQ(c.Interval, 42);
        for (const LogLine& l : host.kernel.log) EXPECT_NE(l.code, 10024) << l.text;  // every service was taken
    }
    EXPECT_TRUE(host.AllReleased());  // and every reference handed over came back
}

TEST(Settings, StoredValuesLoadWithLowEightBitsOfDeviceType) {
    struct Row { const char* varName; bool stored; int32_t type; uint8_t loaded; } rows[8] = {
        {"T0", true, 260, 4}, {"T1", true, 4, 4},     {"", true, 255, 255},  {"T3", true, 256, 0},
        {"T4", true, -1, 255}, {"T5", true, -252, 4}, {"T6", false, 0, 0},    {"", false, 0, 0},
    };
    FakeHost host;
    host.SeedLoopback(9);
    StoreInterval(host, 9, -5);
    for (int i = 0; i < 8; ++i) {
        const std::string s = "Settings/S" + std::to_string(i) + "/";
        if (*rows[i].varName) host.settings.strings[FakeSettings::Key(9, s + "VarName")] = rows[i].varName;
        if (rows[i].stored) host.settings.integers[FakeSettings::Key(9, s + "DeviceType")] = rows[i].type;
    }
    // Values of another instance must not leak in.
    host.settings.strings[FakeSettings::Key(10, "Settings/S7/VarName")] = "other";

    Held inst(host, 9);
    TZELALL3000Settings c = ConfigurationOf(inst.Module());
    EXPECT_EQ(c.IPAddress.View(), "127.0.0.1");
    EXPECT_EQ(c.Interval, -5);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        EXPECT_EQ(c.Devices[i].VarName.View(), rows[i].varName);
        EXPECT_EQ(c.Devices[i].DeviceType, rows[i].loaded);
    }
}

TEST(Settings, DestructionWritesAll18ValuesUnchanged) {
    FakeHost host;
    host.SeedLoopback(4);
    host.settings.strings[FakeSettings::Key(4, "Settings/S2/VarName")] = "Garden";
    host.settings.integers[FakeSettings::Key(4, "Settings/S2/DeviceType")] = 260;
    host.settings.integers[FakeSettings::Key(4, "Settings/S5/DeviceType")] = 133;  // all 8 bits kept
    { Held inst(host, 4); }
    auto devices = kUnbound;
    devices[2] = {"Garden", 4};
    devices[5] = {"", 133};
    EXPECT_EQ(host.settings.writes, ExpectedWrites(4, "127.0.0.1", 60, devices));
    EXPECT_TRUE(host.AllReleased());
}

TEST(Settings, AppliedConfigurationIsWhatGetsStored) {
    FakeHost host;
    host.SeedLoopback(2);
    Held inst(host, 2);
    TZELALL3000Settings c;
    c.IPAddress = ZELString("127.0.0.1");
    c.Interval = 15;
    c.Devices[0] = {stTemperature, ZELString("Inside")};
    c.Devices[7] = {stSwitch, ZELString("Door")};
    IZELALL3000* cfg = ConfigOf(inst.Module());
    // Copied; the kernel is not running, so no test runs and the result is S_OK.
    EXPECT_EQ(cfg->SetConfiguration(c), S_OK);
    TZELALL3000Settings back;
    EXPECT_EQ(cfg->GetConfiguration(back), S_OK);
    cfg->Release();
    EXPECT_EQ(back.Interval, 15);
    EXPECT_EQ(back.Devices[0].VarName.View(), "Inside");
    EXPECT_EQ(back.Devices[7].DeviceType, stSwitch);
    EXPECT_TRUE(host.settings.writes.empty()) << "applying must not write the store";

    inst.Release();
    auto devices = kUnbound;
    devices[0] = {"Inside", 1};
    devices[7] = {"Door", 4};
    EXPECT_EQ(host.settings.writes, ExpectedWrites(2, "127.0.0.1", 15, devices));
}

TEST(Settings, HostDrivenLoadAndSave) {
    FakeHost host;
    host.SeedLoopback(3);
    host.BindInputs(3, {"", "", "", "", "Attic:3"});
    Held inst(host, 3);
    StoreInterval(host, 3, 30);
    host.settings.strings[FakeSettings::Key(3, "Settings/S1/VarName")] = "Cellar";
    // Gone from the store: the reload falls back to an unbound input, not to what was loaded before.
    host.settings.strings.erase(FakeSettings::Key(3, "Settings/S4/VarName"));
    host.settings.integers.erase(FakeSettings::Key(3, "Settings/S4/DeviceType"));
    EXPECT_EQ(inst.Module()->LoadSettings(), S_OK);
    TZELALL3000Settings c = ConfigurationOf(inst.Module());
    EXPECT_EQ(c.Interval, 30);
    EXPECT_EQ(c.Devices[1].VarName.View(), "Cellar");

    EXPECT_EQ(inst.Module()->SaveSettings(), S_OK);
    auto devices = kUnbound;
    devices[1] = {"Cellar", 0};
    EXPECT_EQ(host.settings.writes, ExpectedWrites(3, "127.0.0.1", 30, devices));
}

TEST(Settings, HandedOutConfigurationOutlivesInstance) {
    FakeHost host;
    host.SeedLoopback(5);
    host.settings.strings[FakeSettings::Key(5, "Settings/S0/VarName")] = "Hall";
    TZELALL3000Settings copy;
    {
        Held inst(host, 5);
        copy = ConfigurationOf(inst.Module());
        EXPECT_EQ(hoststr::RefCount(copy.IPAddress.Ref()), 2) << "a copy shares the instance's string";
    }
    EXPECT_EQ(hoststr::RefCount(copy.IPAddress.Ref()), 1);
    EXPECT_EQ(copy.IPAddress.View(), "127.0.0.1");
    EXPECT_EQ(copy.Devices[0].VarName.View(), "Hall");
}

// ---- log lines ---------------------------------------------------------------------------------

TEST(Log, LifecycleInOrder) {
    FakeHost host;
    host.SeedLoopback(7);
    {
        Held inst(host, 7);
        EXPECT_EQ(host.kernel.log, (std::vector<LogLine>{{10021, "ALL3000 #7", "Interface Create"}}));
        host.journal.events.clear();
    }
    EXPECT_EQ(host.kernel.log.back(), (LogLine{10021, "ALL3000 #7", "Interface Destroy"}));
    // Destruction: the log line, the writes, then the references in their order.
    const auto& e = host.journal.events;
    ASSERT_EQ(e.size(), 1u + 18u + 6u);
    EXPECT_EQ(e.front(), "log Interface Destroy");
    const std::vector<std::string> releases(e.end() - 6, e.end());
    EXPECT_EQ(releases, (std::vector<std::string>{"release VariableManager", "release InstanceControl", "release Settings",
                                                  "release EventScripter", "release DebugServer", "release Kernel"}));
    EXPECT_TRUE(host.AllReleased());
    EXPECT_EQ(host.DeviceCalls(), 0);
}

TEST(Log, ServicesRequestedInOrderBeforeAnythingElse) {
    FakeHost host;
    host.SeedLoopback(7);
    Held inst(host, 7);
    const std::vector<std::string> first(host.journal.events.begin(), host.journal.events.begin() + 5);
    EXPECT_EQ(first, (std::vector<std::string>{"query Settings", "query VariableManager", "query EventScripter",
                                               "query InstanceControl", "query DebugServer"}));
}

TEST(Log, SenderIsRecordNameAndDecimalIdentifier) {
    const TZELModuleInfo other = Record(kOtherName.Ref());
    struct Row { const TZELModuleInfo* info; uint16_t id; const char* sender; } rows[] = {
        {&kRecord, 12345, "ALL3000 #12345"},
        {&kRecord, 0, "ALL3000 #0"},
        {&kRecord, 65535, "ALL3000 #65535"},
        {&other, 42, "Box #42"},
    };
    for (const Row& r : rows) {
        FakeHost host;
        host.SeedLoopback(r.id);
        { Held inst(host, r.id, r.info); }
        ASSERT_EQ(host.kernel.log.size(), 2u);
        for (const LogLine& l : host.kernel.log) EXPECT_EQ(l.sender, r.sender);
    }
}

// ---- refused services --------------------------------------------------------------------------

TEST(Refused, EachServiceAloneIsSkippedSafely) {
    struct Row { TGUID iid; const char* text; } rows[] = {
        {IID_IZELSettings, ">Couldn't obtain Settings Object"},
        {IID_IZELVariableManager, ">Couldn't obtain VariableManager Object"},
        {IID_IZELEventScripter, ">Couldn't obtain EventScripter Object"},
        {IID_IZELInstanceControl, ">Couldn't obtain InstanceControl Object"},
        {IID_IZELDebugServer, ">Couldn't obtain DebugServer Object"},
    };
    // The kernel refuses with a failure code, or with a success that hands out nothing.
    for (HRESULT refusal : {E_NOINTERFACE, S_OK}) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.text) + (refusal == S_OK ? " (success with nothing)" : ""));
            FakeHost host;
            host.SeedLoopback(8);
            host.kernel.refused.insert(GUIDToString(r.iid));
            host.kernel.refusal = refusal;
            {
                Held inst(host, 8);
                EXPECT_EQ(host.kernel.log, (std::vector<LogLine>{{10024, "ALL3000 #8", r.text},
                                                                 {10021, "ALL3000 #8", "Interface Create"}}));
                const bool noSettings = r.iid == IID_IZELSettings;
                EXPECT_EQ(ConfigurationOf(inst.Module()).IPAddress.View(), noSettings ? "192.168.20.1" : "127.0.0.1");
                EXPECT_EQ(inst.Module()->SaveSettings(), S_OK);
                EXPECT_EQ(inst.Module()->LoadSettings(), S_OK);
            }
            if (r.iid == IID_IZELSettings) {
                EXPECT_EQ(host.settings.reads, 0);
                EXPECT_TRUE(host.settings.writes.empty());
            }
            EXPECT_EQ(host.DeviceCalls(), 0);
            EXPECT_TRUE(host.AllReleased());
        }
    }
}

TEST(Refused, AllServicesOrNoKernel) {
    FakeHost host;
    for (TGUID iid : {IID_IZELSettings, IID_IZELVariableManager, IID_IZELEventScripter, IID_IZELInstanceControl,
                      IID_IZELDebugServer})
        host.kernel.refused.insert(GUIDToString(iid));
    { Held inst(host, 1); }
    std::vector<std::string> texts;
    for (const auto& l : host.kernel.log) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{">Couldn't obtain Settings Object", ">Couldn't obtain VariableManager Object",
                                               ">Couldn't obtain EventScripter Object",
                                               ">Couldn't obtain InstanceControl Object",
                                               ">Couldn't obtain DebugServer Object", "Interface Create",
                                               "Interface Destroy"}));
    EXPECT_TRUE(host.AllReleased());

    // Without any kernel there is nobody to ask or tell; the instance still works on its defaults.
    auto* lone = new TZELALL3000(nullptr, 2, &kRecord);
    void* p = nullptr;
    ASSERT_EQ(lone->QueryInterface(IID_IZELModule, &p), S_OK);
    auto* m = static_cast<IZELModule*>(p);
    EXPECT_EQ(ConfigurationOf(m).Interval, 60);
    EXPECT_TRUE(lone->TimerEnabled());
    EXPECT_EQ(m->Release(), 0);
}

// ---- failures on the host's side stay outside the module ---------------------------------------

TEST(Boundary, HostFailuresDoNotEscapeOrLeak) {
    struct Row {
        const char* name;
        std::function<void(FakeHost&)> arrange;
        const char* ip;  // expected after loading
    } rows[] = {
        {"kernel query throws", [](FakeHost& h) { h.kernel.throwOnQuery = true; }, "192.168.20.1"},
        {"log throws", [](FakeHost& h) { h.kernel.throwOnLog = true; }, "127.0.0.1"},
        {"reads throw", [](FakeHost& h) { h.settings.throwOnRead = true; }, "192.168.20.1"},
        {"writes throw", [](FakeHost& h) { h.settings.throwOnWrite = true; }, "127.0.0.1"},
        {"failed reads hand back values", [](FakeHost& h) { h.settings.failWithJunk = true; }, "192.168.20.1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FakeHost host;
        host.SeedLoopback(6);
        StoreInterval(host, 6, 5);
        r.arrange(host);
        EXPECT_NO_THROW({
            Held inst(host, 6);
            TZELALL3000Settings c = ConfigurationOf(inst.Module());
            EXPECT_EQ(c.IPAddress.View(), r.ip);
            EXPECT_EQ(c.Interval, std::string(r.ip) == "127.0.0.1" ? 5 : 60);
            EXPECT_EQ(inst.Module()->SaveSettings(), S_OK);
        });
        EXPECT_TRUE(host.AllReleased());
    }
    FakeHost host;
    host.kernel.throwOnQuery = true;
    { Held inst(host, 6); }
    ASSERT_EQ(host.kernel.log.size(), 7u);
    EXPECT_EQ(host.kernel.log[0].code, 10024);
}

// ---- the two faces of an instance --------------------------------------------------------------

TEST(Interfaces, QueryThroughEachFace) {
    const TGUID kForeign = GUID("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    FakeHost host;
    host.SeedLoopback(1);
    Held inst(host, 1);
    IZELModule* module = inst.Module();
    IZELALL3000* face = ConfigOf(module);
    ASSERT_NE(face, nullptr);
    ASSERT_NE(static_cast<void*>(face), static_cast<void*>(module));

    enum Via { Module, Face };
    struct Row { Via via; const char* name; TGUID iid; HRESULT result; void* same; } rows[] = {
        {Face, "IUnknown", IID_IUnknown, E_NOINTERFACE, nullptr},
        {Face, "IZELMessageSink", IID_IZELMessageSink, E_NOINTERFACE, nullptr},
        {Face, "foreign", kForeign, E_NOINTERFACE, nullptr},
        {Face, "IZELModule", IID_IZELModule, S_OK, module},
        {Face, "IZELALL3000", IID_IZELALL3000, S_OK, face},
        {Module, "IUnknown", IID_IUnknown, S_OK, nullptr},
        {Module, "IZELMessageSink", IID_IZELMessageSink, S_OK, nullptr},
        {Module, "foreign", kForeign, E_NOINTERFACE, nullptr},
        {Module, "IZELModule", IID_IZELModule, S_OK, module},
        {Module, "IZELALL3000", IID_IZELALL3000, S_OK, face},
    };
    const int32_t base = module->GetRefCount();
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.via == Face ? "through IZELALL3000: " : "through IZELModule: ") + r.name);
        void* out = reinterpret_cast<void*>(1);
        const HRESULT hr = r.via == Face ? face->QueryInterface(r.iid, &out) : module->QueryInterface(r.iid, &out);
        EXPECT_EQ(hr, r.result);
        if (r.result != S_OK) {
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(module->GetRefCount(), base);
            continue;
        }
        ASSERT_NE(out, nullptr);
        if (r.same) {
            EXPECT_EQ(out, r.same);
        }
        EXPECT_EQ(module->GetRefCount(), base + 1);
        static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_EQ(face->QueryInterface(IID_IZELModule, nullptr), E_FAIL);
    EXPECT_EQ(face->Release(), base - 1);
}

TEST(Interfaces, AcceptedIdsComeFromTheRecord) {
    // With a record naming another module identifier, that identifier passes the face's filter but
    // the class does not implement it, while the face's own GUID no longer passes.
    const TGUID kOther = GUID("{11111111-2222-3333-4444-555555555555}");
    const TZELModuleInfo other = Record(kName.Ref(), kOther);
    FakeHost host;
    host.SeedLoopback(1);
    Held inst(host, 1, &other);
    IZELALL3000* face = ConfigOf(inst.Module());
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(face->QueryInterface(kOther, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(face->QueryInterface(IID_IZELALL3000, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    face->Release();
}

TEST(Interfaces, BothFacesShareOperationsAndCount) {
    FakeHost host;
    host.SeedLoopback(1);
    Held inst(host, 1);
    IZELModule* module = inst.Module();
    IZELALL3000* face = ConfigOf(module);
    struct Row { const char* name; std::function<HRESULT(IZELModule*)> call; HRESULT result; } rows[] = {
        {"MessageSink", [](IZELModule* m) { return m->MessageSink(nullptr); }, E_FAIL},
        {"ShowPropertyPage", [](IZELModule* m) { return m->ShowPropertyPage(); }, E_NOTIMPL},
        {"HidePropertyPage without a page", [](IZELModule* m) { return m->HidePropertyPage(); }, S_OK},
        {"HidePropertyPage again", [](IZELModule* m) { return m->HidePropertyPage(); }, S_OK},
        {"GetRefCount", [](IZELModule* m) { return m->GetRefCount(); }, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.call(module), r.result);
        EXPECT_EQ(r.call(face), r.result);
    }
    EXPECT_EQ(face->AddRef(), 3);
    EXPECT_EQ(module->GetRefCount(), 3);
    EXPECT_EQ(module->Release(), 2);
    face->Release();
}

namespace {
int gHostCallbackCalls = 0;
HRESULT ZEL_CALL HostCallback(void*, int32_t, int32_t, int32_t, int32_t, int32_t) {
    ++gHostCallbackCalls;
    return S_OK;
}
}  // namespace

TEST(Interfaces, ExchangeCallbacksHandsOverBoundDataReceiver) {
    FakeHost host;
    host.SeedLoopback(1);
    gHostCallbackCalls = 0;
    int hostObject = 0;
    {
        Held inst(host, 1);
        IZELALL3000* face = ConfigOf(inst.Module());
        for (IZELModule* via : {inst.Module(), static_cast<IZELModule*>(face)}) {
            TZELCallbackPair pair{};
            pair.HostCallback = {reinterpret_cast<void*>(&HostCallback), &hostObject};
            pair.ModuleCallback = {&hostObject, &hostObject};
            EXPECT_EQ(via->ExchangeCallbacks(pair), S_OK);
            EXPECT_EQ(pair.HostCallback.Code, reinterpret_cast<void*>(&HostCallback));
            EXPECT_EQ(pair.HostCallback.Data, &hostObject);
            EXPECT_EQ(pair.ModuleCallback.Data, static_cast<void*>(inst.Object()));
            ASSERT_NE(pair.ModuleCallback.Code, nullptr);
            auto receiver = reinterpret_cast<TZELDataReceiver>(pair.ModuleCallback.Code);
            EXPECT_EQ(receiver(pair.ModuleCallback.Data, 1, -2, 3, 0, 65535), E_NOTIMPL);
        }
        face->Release();
    }
    EXPECT_EQ(gHostCallbackCalls, 0);
}

// ---- the timer and its due test ----------------------------------------------------------------

TEST(Due, IntervalSecondsAfterTheScheduledStartWithoutOverflow) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    // interval | ms after the scheduled start | due: half a tick early counts, as ticks are not exact
    struct Row { int32_t interval; int64_t ms; bool due; } rows[] = {
        {60, 59499, false}, {60, 59500, true}, {1, 499, false}, {0, 0, true}, {kMin, 0, true},
        {kMax, int64_t{kMax} * 1000 - 501, false}, {kMax, int64_t{kMax} * 1000 - 500, true},  // no 32-bit wrap
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.interval) + " " + std::to_string(r.ms));
        FakeHost host;
        host.SeedLoopback(1);
        StoreInterval(host, 1, r.interval);
        const int64_t before = MonotonicMs();  // the schedule starts between these two readings
        Held inst(host, 1);
        EXPECT_EQ(inst->IsUpdateDue((r.due ? MonotonicMs() : before) + r.ms), r.due);
    }
}

TEST(Due, LastUpdateStartsAtConstruction) {
    FakeHost host;
    host.SeedLoopback(1);
    const TDateTime before = Now();
    Held inst(host, 1);
    EXPECT_GE(inst->LastUpdate(), before);
    EXPECT_LE(inst->LastUpdate(), Now());
    EXPECT_FALSE(inst->IsUpdateDue(MonotonicMs())) << "the first update waits a full interval";
}

// A late tick moves the schedule on by one Interval from its last start; a tick a whole Interval
// late starts it anew from itself. The test sleeps, so the instance's own timer does not tick.
TEST(Due, ALateTickKeepsThePaceOrStartsAnew) {
    for (const int64_t lateMs : {400, 1500}) {
        FakeHost host;
        host.SeedLoopback(1);
        StoreInterval(host, 1, 1);
        const int64_t before = MonotonicMs();
        Held inst(host, 1);
        const int64_t after = MonotonicMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(before + 1000 + lateMs - MonotonicMs()));
        const int64_t tick = MonotonicMs();
        inst->OnTimerTick();
        const bool anew = lateMs >= 1000;
        EXPECT_FALSE(inst->IsUpdateDue((anew ? tick : before + 1000) + 499)) << lateMs;
        EXPECT_TRUE(inst->IsUpdateDue((anew ? MonotonicMs() : after + 1000) + 500)) << lateMs;
        ASSERT_TRUE(RunLoopUntil([&] { return !inst->FetchRunning(); }, 5000));
    }
}

// A due tick turns the timer off, starts the fetch and returns; the fetch's end comes back through
// the event loop, which finishes the update and turns the timer on again.
TEST(Timer, TickStartsTheFetchAndTheLoopFinishesIt) {
    for (const int32_t interval : {0, -5, 60}) {
        const bool due = interval <= 0;
        FakeHost host;
        host.SeedLoopback(1);  // port 80 of 127.0.0.1: refused at once
        StoreInterval(host, 1, interval);
        Held inst(host, 1);
        inst->OnTimerTick();
        inst->OnTimerTick();  // a tick during the fetch starts nothing
        EXPECT_EQ(inst->TimerEnabled(), !due) << interval;
        EXPECT_EQ(host.debug.texts.size(), due ? 1u : 0u) << interval;
        ASSERT_TRUE(RunLoopUntil([&] { return !inst->FetchRunning(); }, 5000));
        EXPECT_TRUE(inst->TimerEnabled());
        EXPECT_EQ(host.debug.texts.size(), due ? 3u : 0u) << "Updating..., >Error reading Values!, its cause";
        EXPECT_EQ(inst->GetRefCount(), 1);  // the update's hold on the instance is gone again
    }
}

TEST(Timer, TicksComeFromTheEventLoopEverySecond) {
    FakeHost host;
    host.SeedLoopback(1);
    StoreInterval(host, 1, 0);
    Held inst(host, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunLoopUntil([&] { return !host.debug.texts.empty(); }, 5000));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(ms.count(), 900);
}

// A host that handles messages while it logs the destruction lets the timer tick once more before
// the timer is gone: that tick must not start an update of the instance being freed.
TEST(Guard, TickWhileTheDestructionIsLogged) {
    FakeHost host;
    host.SeedLoopback(3);
    StoreInterval(host, 3, 0);
    Held inst(host, 3);
    TZELALL3000* object = inst.Object();
    host.kernel.whileLogging = [&](const std::string& text) {
        if (text == "Interface Destroy" && object) std::exchange(object, nullptr)->OnTimerTick();
    };
    inst.Release();
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(host.debug.texts, std::vector<std::string>{});
    EXPECT_EQ(host.kernel.log.back().text, "Interface Destroy");
    EXPECT_TRUE(host.AllReleased());
}
