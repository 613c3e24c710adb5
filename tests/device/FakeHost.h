#pragma once
// A recording stand-in for the host: a kernel and the five services an instance asks for. Every
// call that matters lands in one journal, so tests can check what happened and in which order.
#include <cstdint>
#include <map>
#include <ostream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/UZELTypes.h"
#include "host/Core.Selector_Types.h"
#include "host/ZELString.h"

namespace zel::test {

struct Journal {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

struct LogLine {
    int32_t code;
    std::string sender;
    std::string text;
    friend bool operator==(const LogLine&, const LogLine&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
    return os << l.code << " [" << l.sender << "] " << l.text;
}

// "Settings/S3" from a path as the store receives it.
inline std::string JoinPath(const ZELStr* path, int32_t high) {
    std::string r;
    for (int32_t i = 0; i <= high; ++i) {
        if (i) r += '/';
        r += hoststr::View(path[i]);
    }
    return r;
}

#define ZEL_FAKE_SLOT(n) \
    HRESULT ZEL_CALL Reserved##n() override { return E_NOTIMPL; }

// Counting without self-destruction: the test owns every fake and checks the count at the end.
template <class I>
class FakeService : public I {
public:
    FakeService(std::string name, Journal& journal) : FName(std::move(name)), FJournal(journal) {}
    HRESULT ZEL_CALL QueryInterface(const TGUID&, void** obj) override {
        *obj = nullptr;
        return E_NOINTERFACE;
    }
    int32_t ZEL_CALL AddRef() override { return ++refs; }
    int32_t ZEL_CALL Release() override {
        FJournal.Add("release " + FName);
        return --refs;
    }
    HRESULT ZEL_CALL MessageSink(void*) override { return E_NOTIMPL; }

    int32_t refs = 0;

protected:
    std::string FName;
    Journal& FJournal;
};

class FakeSettings : public FakeService<IZELSettings> {
public:
    explicit FakeSettings(Journal& j) : FakeService("Settings", j) {}

    // Stored values by "instance:path/key", for example "7:Settings/S0/VarName".
    std::map<std::string, std::string> strings;
    std::map<std::string, int32_t> integers;
    int reads = 0;
    std::vector<std::string> writes;  // "instance:path/key=value" in call order
    bool throwOnRead = false, throwOnWrite = false;
    HRESULT readResult = S_OK;  // the success code of a read that found its value
    // A failing read that still hands back a counted string: the caller must release it.
    bool failWithJunk = false;

    static std::string Key(uint32_t instance, const std::string& pathAndKey) {
        return std::to_string(instance) + ":" + pathAndKey;
    }

    HRESULT ZEL_CALL WriteInteger(uint32_t instance, const ZELStr* path, int32_t high, ZELStr key, int32_t value) override {
        if (throwOnWrite) throw std::runtime_error("store gone");
        return Write(instance, path, high, key, std::to_string(value));
    }
    HRESULT ZEL_CALL WriteString(uint32_t instance, const ZELStr* path, int32_t high, ZELStr key, ZELStr value) override {
        if (throwOnWrite) throw std::runtime_error("store gone");
        return Write(instance, path, high, key, "'" + std::string(hoststr::View(value)) + "'");
    }
    HRESULT ZEL_CALL ReadInteger(uint32_t instance, const ZELStr* path, int32_t high, ZELStr key, int32_t* value) override {
        ++reads;
        if (throwOnRead) throw std::runtime_error("store gone");
        auto it = integers.find(Key(instance, Name(path, high, key)));
        if (failWithJunk) *value = 12345;
        if (it == integers.end() || failWithJunk) return E_FAIL;
        *value = it->second;
        return readResult;
    }
    HRESULT ZEL_CALL ReadString(uint32_t instance, const ZELStr* path, int32_t high, ZELStr key, char** value) override {
        ++reads;
        if (throwOnRead) throw std::runtime_error("store gone");
        if (failWithJunk) {
            *value = hoststr::Alloc("junk");
            return E_FAIL;
        }
        auto it = strings.find(Key(instance, Name(path, high, key)));
        if (it == strings.end()) return E_FAIL;
        *value = hoststr::Alloc(it->second);
        return readResult;
    }

    ZEL_FAKE_SLOT(4) ZEL_FAKE_SLOT(5) ZEL_FAKE_SLOT(6) ZEL_FAKE_SLOT(7) ZEL_FAKE_SLOT(8) ZEL_FAKE_SLOT(9)
    ZEL_FAKE_SLOT(11) ZEL_FAKE_SLOT(13) ZEL_FAKE_SLOT(15) ZEL_FAKE_SLOT(17) ZEL_FAKE_SLOT(18) ZEL_FAKE_SLOT(19)
    ZEL_FAKE_SLOT(20) ZEL_FAKE_SLOT(21) ZEL_FAKE_SLOT(22) ZEL_FAKE_SLOT(23) ZEL_FAKE_SLOT(24) ZEL_FAKE_SLOT(25)
    ZEL_FAKE_SLOT(26) ZEL_FAKE_SLOT(27) ZEL_FAKE_SLOT(28) ZEL_FAKE_SLOT(29)

private:
    static std::string Name(const ZELStr* path, int32_t high, ZELStr key) {
        return JoinPath(path, high) + "/" + std::string(hoststr::View(key));
    }
    HRESULT Write(uint32_t instance, const ZELStr* path, int32_t high, ZELStr key, const std::string& value) {
        std::string w = Key(instance, Name(path, high, key)) + "=" + value;
        writes.push_back(w);
        FJournal.Add("write " + w);
        return S_OK;
    }
};

class FakeVariableManager : public FakeService<IZELVariableManager> {
public:
    explicit FakeVariableManager(Journal& j) : FakeService("VariableManager", j) {}
    int calls = 0;
    std::vector<std::string> writes;  // "name=true", "name=21.5" in call order
    std::function<void()> whileWriting;  // runs inside a write, before the name is read
    HRESULT ZEL_CALL WriteVariableBoolean(ZELStr name, uint8_t value) override {
        ++calls;
        if (whileWriting) whileWriting();
        writes.push_back(std::string(hoststr::View(name)) + (value ? "=true" : "=false"));
        return S_OK;
    }
    HRESULT ZEL_CALL WriteVariableFloat(ZELStr name, float value) override {
        ++calls;
        if (whileWriting) whileWriting();
        std::ostringstream v;
        v << value;
        writes.push_back(std::string(hoststr::View(name)) + "=" + v.str());
        return S_OK;
    }
    ZEL_FAKE_SLOT(4) ZEL_FAKE_SLOT(5) ZEL_FAKE_SLOT(6) ZEL_FAKE_SLOT(8) ZEL_FAKE_SLOT(9) ZEL_FAKE_SLOT(10)
    ZEL_FAKE_SLOT(12) ZEL_FAKE_SLOT(13) ZEL_FAKE_SLOT(14) ZEL_FAKE_SLOT(15) ZEL_FAKE_SLOT(16) ZEL_FAKE_SLOT(17)
    ZEL_FAKE_SLOT(18) ZEL_FAKE_SLOT(19) ZEL_FAKE_SLOT(20) ZEL_FAKE_SLOT(21) ZEL_FAKE_SLOT(22) ZEL_FAKE_SLOT(23)
};

// The host's variable selector: answers with `answer` (none: the user cancelled) and records the
// kinds it was asked for.
class FakeSelector : public IZELVariableSelector {
public:
    std::optional<std::string> answer;
    std::vector<int> kinds;
    std::function<void()> whileOpen;  // runs while the "dialog" is open
    int refs = 0;
    HRESULT query = S_OK;  // the answer to QueryInterface for the selector
    bool empty = false;    // a successful query that hands out nothing
    bool throws = false;   // the selection throws instead of answering
    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override {
        *obj = nullptr;
        if (!(iid == IID_IZELVariableSelector)) return E_NOINTERFACE;
        if (Succeeded(query) && !empty) {
            *obj = static_cast<IZELVariableSelector*>(this);
            AddRef();
        }
        return query;
    }
    int32_t ZEL_CALL AddRef() override { return ++refs; }
    int32_t ZEL_CALL Release() override { return --refs; }
    HRESULT ZEL_CALL MessageSink(void*) override { return E_NOTIMPL; }
    HRESULT ZEL_CALL ExchangeCallbacks(TZELCallbackPair&) override { return E_NOTIMPL; }
    HRESULT ZEL_CALL ShowPropertyPage() override { return E_NOTIMPL; }
    HRESULT ZEL_CALL HidePropertyPage() override { return E_NOTIMPL; }
    HRESULT ZEL_CALL LoadSettings() override { return E_NOTIMPL; }
    HRESULT ZEL_CALL SaveSettings() override { return E_NOTIMPL; }
    int32_t ZEL_CALL GetRefCount() override { return refs; }
    HRESULT ZEL_CALL SelectVariable(uint8_t kind, char** name) override {
        kinds.push_back(kind);
        if (whileOpen) whileOpen();
        if (throws) throw std::runtime_error("selector failed");
        if (!answer) return E_FAIL;
        *name = hoststr::Alloc(*answer);
        return S_OK;
    }
};

class FakeInstanceControl : public FakeService<IZELInstanceControl> {
public:
    explicit FakeInstanceControl(Journal& j) : FakeService("InstanceControl", j) {}
    int calls = 0;
    FakeSelector* selector = nullptr;  // handed out by CreateInstance when set
    HRESULT ZEL_CALL CreateInstance(TGUID iid, TZELModuleInstance* instance, int32_t) override {
        ++calls;
        if (!selector || !(iid == IID_IZELVariableSelector)) return E_FAIL;
        selector->AddRef();
        instance->InstanceID = 77;
        instance->Module = selector;
        return S_OK;
    }
    HRESULT ZEL_CALL DeleteInstance(uint32_t) override { ++calls; return selector ? S_OK : E_FAIL; }
    std::vector<int32_t> statuses;
    HRESULT ZEL_CALL SetInstanceStatus(uint32_t, int32_t status) override {
        ++calls;
        statuses.push_back(status);
        return S_OK;
    }
    ZEL_FAKE_SLOT(6) ZEL_FAKE_SLOT(7) ZEL_FAKE_SLOT(8) ZEL_FAKE_SLOT(9) ZEL_FAKE_SLOT(10) ZEL_FAKE_SLOT(11)
    ZEL_FAKE_SLOT(12) ZEL_FAKE_SLOT(13) ZEL_FAKE_SLOT(15) ZEL_FAKE_SLOT(16) ZEL_FAKE_SLOT(17)
};

class FakeEventScripter : public FakeService<IZELEventScripter> {
public:
    explicit FakeEventScripter(Journal& j) : FakeService("EventScripter", j) {}
    ZEL_FAKE_SLOT(4) ZEL_FAKE_SLOT(5) ZEL_FAKE_SLOT(6) ZEL_FAKE_SLOT(7) ZEL_FAKE_SLOT(8) ZEL_FAKE_SLOT(9)
    ZEL_FAKE_SLOT(10) ZEL_FAKE_SLOT(11) ZEL_FAKE_SLOT(12) ZEL_FAKE_SLOT(13) ZEL_FAKE_SLOT(14) ZEL_FAKE_SLOT(15)
    ZEL_FAKE_SLOT(16) ZEL_FAKE_SLOT(17) ZEL_FAKE_SLOT(18) ZEL_FAKE_SLOT(19) ZEL_FAKE_SLOT(20)
};

class FakeDebugServer : public FakeService<IZELDebugServer> {
public:
    explicit FakeDebugServer(Journal& j) : FakeService("DebugServer", j) {}
    int calls = 0;
    std::vector<std::string> texts;
    HRESULT ZEL_CALL SendDebug(uint32_t, ZELStr text, int32_t) override {
        ++calls;
        texts.emplace_back(hoststr::View(text));
        return S_OK;
    }
    ZEL_FAKE_SLOT(4)
};

// Hands out the services by GUID unless refused. Its kernel state is not the running one, so even
// code that tests the device would stay quiet.
class FakeKernel : public FakeService<IZELKernel> {
public:
    FakeKernel(Journal& j, FakeSettings& s, FakeVariableManager& v, FakeEventScripter& e, FakeInstanceControl& c,
               FakeDebugServer& d)
        : FakeService("Kernel", j), FSettings(s), FVariables(v), FScripter(e), FControl(c), FDebug(d) {}

    std::vector<LogLine> log;
    std::set<std::string> refused;  // GUID texts
    int32_t state = 10014;
    bool throwOnLog = false, throwOnQuery = false;
    HRESULT queryResult = S_OK;  // the success code handed out with a service
    HRESULT refusal = E_NOINTERFACE;  // the answer for a refused service (S_OK: a success with nothing)
    std::function<void(const std::string&)> whileLogging;  // runs inside LogMessage, with the text

    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override {
        *obj = nullptr;
        if (throwOnQuery) throw std::runtime_error("kernel busy");
        const struct { TGUID iid; IUnknown* p; const char* name; } services[] = {
            {IID_IZELSettings, &FSettings, "Settings"},
            {IID_IZELVariableManager, &FVariables, "VariableManager"},
            {IID_IZELEventScripter, &FScripter, "EventScripter"},
            {IID_IZELInstanceControl, &FControl, "InstanceControl"},
            {IID_IZELDebugServer, &FDebug, "DebugServer"},
            {IID_IZELKernel, this, "Kernel"},
        };
        IUnknown* p = nullptr;
        std::string name = GUIDToString(iid);
        for (const auto& service : services) {
            if (service.iid == iid) {
                p = service.p;
                name = service.name;
            }
        }
        FJournal.Add("query " + name);
        if (!p) return E_NOINTERFACE;
        if (refused.count(GUIDToString(iid))) return refusal;
        p->AddRef();
        *obj = p;
        return queryResult;
    }
    HRESULT ZEL_CALL LogMessage(int32_t code, ZELStr sender, ZELStr text) override {
        if (throwOnLog) throw std::runtime_error("log full");
        log.push_back({code, std::string(hoststr::View(sender)), std::string(hoststr::View(text))});
        FJournal.Add("log " + std::string(hoststr::View(text)));
        if (whileLogging) whileLogging(log.back().text);
        return S_OK;
    }
    HRESULT ZEL_CALL GetKernelState(int32_t* s) override { *s = state; return S_OK; }
    ZEL_FAKE_SLOT(4) ZEL_FAKE_SLOT(5) ZEL_FAKE_SLOT(6) ZEL_FAKE_SLOT(8) ZEL_FAKE_SLOT(9) ZEL_FAKE_SLOT(10)

private:
    FakeSettings& FSettings;
    FakeVariableManager& FVariables;
    FakeEventScripter& FScripter;
    FakeInstanceControl& FControl;
    FakeDebugServer& FDebug;
};

#undef ZEL_FAKE_SLOT

// The whole fake host in one object.
struct FakeHost {
    Journal journal;
    FakeSettings settings{journal};
    FakeVariableManager variables{journal};
    FakeEventScripter scripter{journal};
    FakeInstanceControl control{journal};
    FakeDebugServer debug{journal};
    FakeKernel kernel{journal, settings, variables, scripter, control, debug};

    // Tests never let an instance point at anything but this machine.
    void SeedLoopback(uint16_t instance) { settings.strings[FakeSettings::Key(instance, "Settings/IPAddress")] = "127.0.0.1"; }
    // Binds the inputs of `instance`, "name:type" each ("" leaves an input unbound).
    void BindInputs(uint16_t instance, const std::vector<std::string>& bindings) {
        for (size_t i = 0; i < bindings.size(); ++i) {
            if (bindings[i].empty()) continue;
            const std::string s = "Settings/S" + std::to_string(i) + "/";
            const size_t colon = bindings[i].find(':');
            settings.strings[FakeSettings::Key(instance, s + "VarName")] = bindings[i].substr(0, colon);
            settings.integers[FakeSettings::Key(instance, s + "DeviceType")] = std::stoi(bindings[i].substr(colon + 1));
        }
    }
    // True when every reference handed out has come back.
    bool AllReleased() const {
        return kernel.refs == 0 && settings.refs == 0 && variables.refs == 0 && scripter.refs == 0 &&
               control.refs == 0 && debug.refs == 0;
    }
    // Calls that this stage of the instance must never make.
    int DeviceCalls() const { return variables.calls + control.calls + debug.calls; }
};

}  // namespace zel::test
