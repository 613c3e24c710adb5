// The host services as a module sees them: through their interface slots, in-process.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "HostServices.h"
#include "VariableSelector.h"

using namespace zelhost;
using namespace zel;

namespace {

class HostServices : public ::testing::Test {
protected:
    void SetUp() override { Make({}, kKernelStateRunning); }
    void TearDown() override { ::unsetenv("ZELHOST_SELECT"); }

    void Make(TRefusals refusals, int32_t state) {
        host.reset();
        host = std::make_unique<THost>(events, store, refusals, state);
        host->Instances.ReserveIDs({1, 2});
    }
    bool Noticed(std::string_view part) const {
        for (const auto& l : lines)
            if (l.find("\"sender\":\"zelhost\"") != std::string::npos && l.find(part) != std::string::npos) return true;
        return false;
    }

    std::vector<std::string> lines;
    TEventPrinter events{true, [this](std::string_view line) { lines.emplace_back(line); }};
    TSettingsStore store{"/nonexistent/zelhost-test-store.xml"};
    std::unique_ptr<THost> host;
};

// One section path "Settings" as the module passes it.
struct TPath {
    ZELString settings{"Settings"};
    ZELStr refs[1] = {settings.Ref()};
};

}  // namespace

TEST_F(HostServices, KernelHandsOutEachServiceUnlessRefused) {
    const struct {
        TGUID iid;
        bool TRefusals::*refusal;
        void* object;
    } services[] = {
        {IID_IZELSettings, &TRefusals::Settings, static_cast<IZELSettings*>(&host->Settings)},
        {IID_IZELVariableManager, &TRefusals::Variables, static_cast<IZELVariableManager*>(&host->Variables)},
        {IID_IZELInstanceControl, &TRefusals::Instances, static_cast<IZELInstanceControl*>(&host->Instances)},
        {IID_IZELEventScripter, &TRefusals::Scripter, static_cast<IZELEventScripter*>(&host->Scripter)},
        {IID_IZELDebugServer, &TRefusals::Debug, static_cast<IZELDebugServer*>(&host->Debug)},
    };
    for (const auto& s : services) {
        void* obj = nullptr;
        ASSERT_EQ(host->Kernel.QueryInterface(s.iid, &obj), S_OK) << GUIDToString(s.iid);
        EXPECT_EQ(obj, s.object);
        EXPECT_EQ(static_cast<IUnknown*>(obj)->Release(), 0);
    }
    for (const auto& s : services) {
        TRefusals refusals;
        refusals.*s.refusal = true;
        Make(refusals, kKernelStateRunning);
        for (const auto& other : services) {
            void* obj = reinterpret_cast<void*>(1);
            HRESULT r = host->Kernel.QueryInterface(other.iid, &obj);
            if (&other == &s) {
                EXPECT_EQ(r, E_NOINTERFACE) << GUIDToString(other.iid);
                EXPECT_EQ(obj, nullptr);
            } else {
                EXPECT_EQ(r, S_OK) << GUIDToString(other.iid);
                static_cast<IUnknown*>(obj)->Release();
            }
        }
        EXPECT_TRUE(host->CheckReleased());
    }
    for (TGUID iid : {IID_IUnknown, IID_IZELMessageSink, IID_IZELKernel}) {
        void* obj = nullptr;
        ASSERT_EQ(host->Kernel.QueryInterface(iid, &obj), S_OK);
        EXPECT_EQ(obj, static_cast<IZELKernel*>(&host->Kernel));
        host->Kernel.Release();
    }
    void* obj = reinterpret_cast<void*>(1);
    EXPECT_EQ(host->Kernel.QueryInterface(IID_IZELModule, &obj), E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
}

TEST_F(HostServices, KernelStateIsRunningUnlessOverridden) {
    int32_t state = 0;
    ASSERT_EQ(host->Kernel.GetKernelState(&state), S_OK);
    EXPECT_EQ(state, 10013);
    Make({}, 0);
    ASSERT_EQ(host->Kernel.GetKernelState(&state), S_OK);
    EXPECT_EQ(state, 0);
}

TEST_F(HostServices, ReadIntegerTakesOnlyWhole32BitNumbers) {
    TPath path;
    const struct {
        const char* stored;
        bool ok;
        int32_t value;
    } cases[] = {
        {"60", true, 60},        {"-2147483648", true, INT_MIN}, {"2147483647", true, INT_MAX},
        {"007", true, 7},        {"12x", false, 0},              {"", false, 0},
        {"99999999999", false, 0}, {"2147483648", false, 0},     {" 12", false, 0},
        {"12 ", false, 0},       {"+5", false, 0},               {"0x10", false, 0},
        {"1.5", false, 0},
    };
    for (const auto& c : cases) {
        ZELString key("Interval"), value(c.stored);
        ASSERT_EQ(host->Settings.WriteString(1, path.refs, 0, key.Ref(), value.Ref()), S_OK);
        int32_t got = 4242;
        HRESULT r = host->Settings.ReadInteger(1, path.refs, 0, key.Ref(), &got);
        EXPECT_EQ(Succeeded(r), c.ok) << '"' << c.stored << '"';
        EXPECT_EQ(got, c.ok ? c.value : 4242) << '"' << c.stored << '"';
    }
    ZELString missing("Missing");
    int32_t got = 4242;
    EXPECT_TRUE(Failed(host->Settings.ReadInteger(1, path.refs, 0, missing.Ref(), &got)));
    EXPECT_TRUE(Failed(host->Settings.ReadInteger(2, path.refs, 0, ZELString("Interval").Ref(), &got)));
    EXPECT_EQ(got, 4242);
}

TEST_F(HostServices, ReadStringGivesANewCountedStringOrLeavesTheOutAlone) {
    TPath path;
    ZELString key("VarName"), value(std::string_view("T0 \xFC\r\n", 6));
    ASSERT_EQ(host->Settings.WriteString(3, path.refs, 0, key.Ref(), value.Ref()), S_OK);
    char* out = nullptr;
    ASSERT_EQ(host->Settings.ReadString(3, path.refs, 0, key.Ref(), &out), S_OK);
    ZELString got = ZELString::Adopt(out);
    EXPECT_EQ(got.View(), value.View());
    EXPECT_EQ(hoststr::RefCount(got.Ref()), 1);

    char sentinel[] = "x";
    out = sentinel;
    EXPECT_TRUE(Failed(host->Settings.ReadString(4, path.refs, 0, key.Ref(), &out)));
    EXPECT_EQ(out, sentinel);

    // No section at all (last index -1): a key right below the instance, apart from the one above.
    ZELString top("top");
    ASSERT_EQ(host->Settings.WriteString(3, nullptr, -1, key.Ref(), top.Ref()), S_OK);
    ASSERT_EQ(host->Settings.ReadString(3, nullptr, -1, key.Ref(), &out), S_OK);
    EXPECT_EQ(ZELString::Adopt(out).View(), "top");
    ASSERT_EQ(host->Settings.ReadString(3, path.refs, 0, key.Ref(), &out), S_OK);
    EXPECT_EQ(ZELString::Adopt(out).View(), value.View());
}

TEST_F(HostServices, MalformedSettingsCallsFailAndStoreNothing) {
    TPath path;
    ZELString key("Key"), bad("a key"), value("v");
    ZELStr emptySection[1] = {nullptr};
    EXPECT_TRUE(Failed(host->Settings.WriteString(65536, path.refs, 0, key.Ref(), value.Ref())));
    EXPECT_TRUE(Failed(host->Settings.WriteString(1, path.refs, -2, key.Ref(), value.Ref())));
    EXPECT_TRUE(Failed(host->Settings.WriteString(1, nullptr, 0, key.Ref(), value.Ref())));
    EXPECT_TRUE(Failed(host->Settings.WriteString(1, path.refs, 64, key.Ref(), value.Ref())));
    EXPECT_TRUE(Failed(host->Settings.WriteString(1, emptySection, 0, key.Ref(), value.Ref())));
    EXPECT_TRUE(Failed(host->Settings.WriteInteger(1, path.refs, 0, bad.Ref(), 5)));
    EXPECT_TRUE(Failed(host->Settings.WriteInteger(1, path.refs, 0, nullptr, 5)));
    EXPECT_FALSE(store.Dirty());
    EXPECT_TRUE(store.Instances().empty());
}

TEST_F(HostServices, VariablesKeepTheTypeOfTheirFirstWrite) {
    ZELString t0("T0"), sw("Switch \x80");
    ASSERT_EQ(host->Variables.WriteVariableFloat(t0.Ref(), 21.5f), S_OK);
    ASSERT_EQ(host->Variables.WriteVariableBoolean(sw.Ref(), 1), S_OK);
    ASSERT_EQ(host->Variables.WriteVariableBoolean(sw.Ref(), 0), S_OK);
    size_t before = lines.size();
    EXPECT_TRUE(Failed(host->Variables.WriteVariableBoolean(t0.Ref(), 1)));
    EXPECT_TRUE(Failed(host->Variables.WriteVariableFloat(ZELString().Ref(), 1)));
    EXPECT_TRUE(Noticed("T0 is a float variable"));
    EXPECT_EQ(lines.size(), before + 1) << "a refused write prints no variable event";
    EXPECT_EQ(lines[0], R"({"event":"variable","name":"T0","type":"float","value":21.5})");
    EXPECT_EQ(lines[1], "{\"event\":\"variable\",\"name\":\"Switch \xE2\x82\xAC\",\"type\":\"boolean\",\"value\":true}");
    EXPECT_EQ(lines[2], "{\"event\":\"variable\",\"name\":\"Switch \xE2\x82\xAC\",\"type\":\"boolean\",\"value\":false}");
    EXPECT_EQ(host->Variables.Names(VariableKindFloat), std::vector<std::string>{"T0"});
    EXPECT_EQ(host->Variables.Names(VariableKindBoolean), std::vector<std::string>{"Switch \x80"});
}

TEST_F(HostServices, SelectorListsBindingsAndEveryVariableWhenNoneIsOfTheKind) {
    const std::vector<std::string_view> s0 = {"Settings", "S0"}, s5 = {"Settings", "S5"}, s7 = {"Settings", "S7"};
    store.Write(4, s0, "VarName", "Inside");
    store.Write(4, s0, "DeviceType", "1");
    store.Write(4, s5, "VarName", "");  // an unbound row
    store.Write(4, s7, "VarName", "Door");
    store.Write(4, s7, "DeviceType", "4");
    // The module's rule: the low 8 bits are the type, and a text that is no number is type 0.
    const std::vector<std::string_view> s1 = {"Settings", "S1"}, s2 = {"Settings", "S2"}, s3 = {"Settings", "S3"};
    store.Write(4, s1, "VarName", "Window");
    store.Write(4, s1, "DeviceType", "260");
    store.Write(4, s2, "VarName", "Lamp");
    store.Write(4, s2, "DeviceType", "4 ");
    store.Write(4, s3, "VarName", "Pump");
    store.Write(4, s3, "DeviceType", "+4");  // ReadInteger refuses the sign
    host->Variables.DeclareBindings(store);
    EXPECT_EQ(host->Variables.Names(VariableKindFloat), (std::vector<std::string>{"Inside", "Lamp", "Pump"}));
    EXPECT_EQ(host->Variables.Names(VariableKindBoolean), (std::vector<std::string>{"Door", "Window"}));
    EXPECT_EQ(host->Variables.Names(7), (std::vector<std::string>{"Door", "Inside", "Lamp", "Pump", "Window"}));  // none of that kind: all
}

// The way a module's configuration page asks for a variable name.
TEST_F(HostServices, VariableSelectorInstanceLivesFromCreateToLastRelease) {
    // The module's own instances at both ends of the range: the host's numbers wrap past them.
    const std::vector<uint16_t> moduleIDs = {0, 1, 2, 65535};
    host->Instances.ReserveIDs(moduleIDs);
    TZELModuleInstance instance;
    std::memset(static_cast<void*>(&instance), 0xAB, sizeof instance);
    ASSERT_EQ(host->Instances.CreateInstance(IID_IZELVariableSelector, &instance, 0), S_OK);
    ASSERT_NE(instance.Module, nullptr);
    for (uint16_t id : moduleIDs) EXPECT_NE(instance.InstanceID, id);
    for (TGUID iid : {IID_IUnknown, IID_IZELMessageSink, IID_IZELModule, IID_IZELVariableSelector}) {
        void* face = nullptr;
        ASSERT_EQ(instance.Module->QueryInterface(iid, &face), S_OK) << GUIDToString(iid);
        EXPECT_EQ(face, static_cast<void*>(instance.Module));  // one object, one interface chain
        static_cast<IUnknown*>(face)->Release();
    }
    void* obj = reinterpret_cast<void*>(1);
    EXPECT_EQ(instance.Module->QueryInterface(IID_IZELSettings, &obj), E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
    ASSERT_EQ(instance.Module->QueryInterface(IID_IZELVariableSelector, &obj), S_OK);
    auto* selector = static_cast<IZELVariableSelector*>(obj);

    ::setenv("ZELHOST_SELECT", "T\xFC", 1);
    ZELString name;
    ASSERT_EQ(selector->SelectVariable(VariableKindFloat, name.Out()), S_OK);
    EXPECT_EQ(name.View(), "T\xFC");
    ::setenv("ZELHOST_SELECT", "", 1);
    char sentinel[] = "x";
    char* out = sentinel;
    EXPECT_TRUE(Failed(selector->SelectVariable(VariableKindBoolean, &out)));
    EXPECT_EQ(out, sentinel);

    EXPECT_EQ(host->Instances.DeleteInstance(instance.InstanceID), S_OK);
    EXPECT_TRUE(Failed(host->Instances.DeleteInstance(instance.InstanceID)));
    EXPECT_EQ(host->LiveSelectors.load(), 1) << "the caller's references keep it alive";
    selector->Release();
    instance.Module->Release();
    EXPECT_EQ(host->LiveSelectors.load(), 0);
    EXPECT_TRUE(host->CheckReleased());

    TZELModuleInstance other{};
    EXPECT_TRUE(Failed(host->Instances.CreateInstance(IID_IZELModule, &other, 0)));
    EXPECT_EQ(other.Module, nullptr);
}

TEST_F(HostServices, ShutdownCheckReportsWhatTheModuleKept) {
    void* obj = nullptr;
    ASSERT_EQ(host->Kernel.QueryInterface(IID_IZELSettings, &obj), S_OK);
    TZELModuleInstance instance{};
    ASSERT_EQ(host->Instances.CreateInstance(IID_IZELVariableSelector, &instance, 0), S_OK);
    EXPECT_FALSE(host->CheckReleased());
    EXPECT_TRUE(Noticed("1 reference to the settings store"));
    EXPECT_TRUE(Noticed("never deleted"));
    EXPECT_TRUE(Noticed("still holds 1 variable selector"));
    instance.Module->Release();
    host->Settings.Release();
    EXPECT_EQ(host->LiveSelectors.load(), 0);

    // One release too many: the count stays at zero and the fault is reported.
    EXPECT_EQ(host->Debug.Release(), 0);
    EXPECT_EQ(host->Debug.References(), 0);
    EXPECT_TRUE(Noticed("debug server was released more often"));
}

TEST(HostEvents, JsonLinesHaveExactlyTheAgreedShapes) {
    std::vector<std::string> lines;
    TEventPrinter json(true, [&](std::string_view l) { lines.emplace_back(l); });
    json.Log(10021, "ALL3000 #1", "Interface Create");
    json.Debug(1, "Updating...");
    json.Status(1, 102);
    json.Log(10024, "Steuerung \xFC", std::string_view("q\" b\\ \r\n\t\x01\x7F", 11));
    json.VariableFloat("T0", -std::numeric_limits<float>::infinity());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], R"({"event":"log","code":10021,"sender":"ALL3000 #1","text":"Interface Create"})");
    EXPECT_EQ(lines[1], R"({"event":"debug","instance":1,"text":"Updating..."})");
    EXPECT_EQ(lines[2], R"({"event":"status","instance":1,"status":102})");
    EXPECT_EQ(lines[3], "{\"event\":\"log\",\"code\":10024,\"sender\":\"Steuerung \xC3\xBC\","
                        "\"text\":\"q\\\" b\\\\ \\u000d\\u000a\\u0009\\u0001\x7F\"}");
    EXPECT_EQ(lines[4], R"({"event":"variable","name":"T0","type":"float","value":null})");

    lines.clear();
    TEventPrinter readable(false, [&](std::string_view l) { lines.emplace_back(l); });
    readable.Log(10021, "ALL3000", "two\nlines");
    EXPECT_EQ(lines.at(0), "log    10021 ALL3000: two\\x0alines");
}

TEST(HostEvents, FloatsPrintSoTheyReadBackTheSame) {
    for (float f : {21.5f, 0.1f, -0.0f, 1e-45f, FLT_MAX, FLT_MIN, 16777217.0f, 3.14159265f, 1e20f}) {
        std::string text = FormatFloat(f);
        float back = std::strtof(text.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
    EXPECT_EQ(FormatFloat(0.1f), "0.1");
}
