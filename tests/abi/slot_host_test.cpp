// A host written from the published contract alone. It includes none of the project's interface
// headers (its target has no include path to them): every host service is a plain table of
// function pointers laid out by the contract's slot numbers, and the module's own interfaces are
// called by slot number. The module, the fake host and zelhost all compile one shared header, so a
// method moved to another slot there would pass every other test; here it fails.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#endif
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "LoopbackPeer.h"
#include "TestLibrary.h"

namespace {

// The contract's calling convention: stdcall on 32-bit Windows, the platform's C convention elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

using HRESULT = int32_t;
constexpr HRESULT kOK = 0;
constexpr HRESULT kNotImpl = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);

constexpr const char* kIUnknown = "{00000000-0000-0000-C000-000000000046}";
constexpr const char* kMessageSink = "{4AB6071E-F8D1-4968-A432-17751D071BF8}";
constexpr const char* kKernel = "{BCB79E07-1AA9-42B1-B154-EDC5AFB50D37}";
constexpr const char* kSettings = "{2058C7E1-D444-4EB1-B67A-FD48DBA7D06F}";
constexpr const char* kVariables = "{5528E859-0D7D-41CE-9E82-D7CF50228A5B}";
constexpr const char* kControl = "{0D8CEA36-DFA4-4576-ACC8-5675042D7599}";
constexpr const char* kScripter = "{ED275B5F-4944-4B37-920F-498C1AFFB14F}";
constexpr const char* kDebug = "{CA3F512F-B1FB-4D2E-94D8-47C4139555B7}";
constexpr const char* kSelector = "{1C8663C5-1DBD-41DD-945A-C4C835737733}";
constexpr const char* kModule = "{551860D7-8E44-430B-8C44-CBB5AA708470}";
constexpr const char* kALL3000 = "{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}";

// A GUID, and its text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
struct Guid {
    uint32_t d1;
    uint16_t d2, d3;
    uint8_t d4[8];
};

Guid ToGuid(const char* text) {
    Guid g{};
    const int n = std::sscanf(text, "{%8" SCNx32 "-%4" SCNx16 "-%4" SCNx16 "-%2" SCNx8 "%2" SCNx8 "-%2" SCNx8 "%2" SCNx8
                                    "%2" SCNx8 "%2" SCNx8 "%2" SCNx8 "%2" SCNx8 "}",
                              &g.d1, &g.d2, &g.d3, &g.d4[0], &g.d4[1], &g.d4[2], &g.d4[3], &g.d4[4], &g.d4[5], &g.d4[6],
                              &g.d4[7]);
    EXPECT_EQ(n, 11) << text;
    return g;
}

std::string Text(const Guid& g) {
    char s[39];
    std::snprintf(s, sizeof s, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.d1, g.d2, g.d3, g.d4[0],
                  g.d4[1], g.d4[2], g.d4[3], g.d4[4], g.d4[5], g.d4[6], g.d4[7]);
    return s;
}

// Host strings: one block holding a 32-bit reference count (-1: a constant), a 32-bit length, the
// characters and a zero byte; a reference points at the first character; nil is the empty string.
// Written out by hand, not through the project's allocation pair: the module must free what a
// foreign host allocated with the contract's allocator, and the reverse. That allocator is the COM
// task allocator on Windows, shared by every module of a process, and malloc and free elsewhere.
#ifdef _WIN32
void* AllocateBlock(size_t size) { return ::CoTaskMemAlloc(size); }
void FreeBlock(void* block) { ::CoTaskMemFree(block); }
#else
void* AllocateBlock(size_t size) { return std::malloc(size); }
void FreeBlock(void* block) { std::free(block); }
#endif

std::string View(const char* s) {
    int32_t length = 0;
    if (s) std::memcpy(&length, s - 4, 4);
    return s ? std::string(s, static_cast<size_t>(length)) : std::string();
}

char* NewString(const std::string& text) {
    if (text.empty()) return nullptr;
    auto* block = static_cast<char*>(AllocateBlock(8 + text.size() + 1));
    const int32_t head[2] = {1, static_cast<int32_t>(text.size())};
    std::memcpy(block, head, 8);
    std::memcpy(block + 8, text.c_str(), text.size() + 1);
    return block + 8;
}

void ReleaseString(char* s) {
    int32_t count = -1;
    if (s) std::memcpy(&count, s - 8, 4);
    if (count < 0) return;
    if (--count == 0)
        FreeBlock(s - 8);
    else
        std::memcpy(s - 8, &count, 4);
}

// A function table holds entries of many signatures. This is the one place that converts between
// function pointer types; all of them share one size and representation on our platforms.
using Slot = void (*)();
template <class To, class From>
To FunctionCast(From f) {
    return reinterpret_cast<To>(f);
}
template <class F>
Slot AsSlot(F* f) {
    return FunctionCast<Slot>(f);
}

// Calls slot `slot` of the interface `face` with the contract's raw signature, the object first.
template <class R, class... A>
R CallSlot(void* face, size_t slot, A... args) {
    const Slot* table = *static_cast<const Slot* const*>(face);
    return FunctionCast<R(HOST_CALL*)(void*, A...)>(table[slot])(face, args...);
}

// One call that arrived at a host object: its slot and its arguments, written out.
struct Call {
    std::string object;
    size_t slot;
    std::string args;
    friend bool operator==(const Call&, const Call&) = default;
};
std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << c.object << "[" << c.slot << "](" << c.args << ")";
}
constexpr const char* kUnexpected = "a slot the module must not call";

struct Host;

// A host object as the module sees it: the address of its function table first.
struct Object {
    const Slot* table;
    Host* host;
    const char* name;
    const char* iid;
    int32_t refs;
};
static_assert(std::is_standard_layout_v<Object>, "the table pointer sits at the object's address");

// The module's configuration record as it crosses the boundary; its strings are counted references.
struct Config {
    char* address = nullptr;
    int32_t interval = 0;
    struct {
        uint8_t type = 0;
        char* varName = nullptr;
    } devices[8];
    Config() = default;
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;
    ~Config() {
        ReleaseString(address);
        for (auto& d : devices) ReleaseString(d.varName);
    }
};

// The host: a kernel that hands out the five services, and the variable selector that the instance
// control creates. Every call is recorded with its slot.
struct Host {
    Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    void Record(const Object& o, size_t slot, std::string args) { calls.push_back({o.name, slot, std::move(args)}); }
    Object* Answer(Object& asked, const std::string& iid);
    bool Received(const Call& c) const { return std::find(calls.begin(), calls.end(), c) != calls.end(); }

    const std::vector<Slot> kernelTable, settingsTable, variablesTable, controlTable, scripterTable, debugTable,
        selectorTable;
    Object kernel, settings, variables, control, scripter, debug, selector;
    std::vector<Call> calls;
    // The settings store by "instance, path, key", as the calls write them.
    std::map<std::string, std::string> strings;
    std::map<std::string, int32_t> integers;
};

template <size_t N>
HRESULT HOST_CALL Unexpected(Object* self) {
    self->host->Record(*self, N, kUnexpected);
    return kNotImpl;
}
template <size_t... N>
std::vector<Slot> UnexpectedSlots(std::index_sequence<N...>) {
    return {AsSlot(&Unexpected<N>)...};
}

HRESULT HOST_CALL QueryInterface(Object* self, const Guid& iid, void** out) {
    self->host->Record(*self, 0, Text(iid));
    Object* found = self->host->Answer(*self, Text(iid));
    if (found) ++found->refs;
    *out = found;
    return found ? kOK : kNoInterface;
}
int32_t HOST_CALL AddRef(Object* self) { return ++self->refs; }
int32_t HOST_CALL Release(Object* self) { return --self->refs; }

Object* Host::Answer(Object& asked, const std::string& iid) {
    if (iid == asked.iid || iid == kIUnknown || iid == kMessageSink) return &asked;
    if (&asked != &kernel) return nullptr;
    for (Object* service : {&settings, &variables, &control, &scripter, &debug})
        if (iid == service->iid) return service;
    return nullptr;
}

HRESULT HOST_CALL LogMessage(Object* self, int32_t code, const char* sender, const char* text) {
    self->host->Record(*self, 7, std::to_string(code) + ", " + View(sender) + ", " + View(text));
    return kOK;
}
HRESULT HOST_CALL GetKernelState(Object* self, int32_t* state) {
    self->host->Record(*self, 11, "");
    *state = 10013;  // running: the module tests its box, which answers on loopback
    return kOK;
}

std::string StoreKey(uint32_t instance, const char* const* path, int32_t high, const char* key) {
    std::string s = std::to_string(instance) + ", ";
    for (int32_t i = 0; i <= high; ++i) s += (i ? "/" : "") + View(path[i]);
    return s + ", " + View(key);
}
HRESULT HOST_CALL WriteInteger(Object* self, uint32_t instance, const char* const* path, int32_t high, const char* key,
                               int32_t value) {
    const std::string k = StoreKey(instance, path, high, key);
    self->host->Record(*self, 10, k + ", " + std::to_string(value));
    self->host->integers[k] = value;
    return kOK;
}
HRESULT HOST_CALL WriteString(Object* self, uint32_t instance, const char* const* path, int32_t high, const char* key,
                              const char* value) {
    const std::string k = StoreKey(instance, path, high, key);
    self->host->Record(*self, 12, k + ", " + View(value));
    self->host->strings[k] = View(value);
    return kOK;
}
HRESULT HOST_CALL ReadInteger(Object* self, uint32_t instance, const char* const* path, int32_t high, const char* key,
                              int32_t* value) {
    const std::string k = StoreKey(instance, path, high, key);
    self->host->Record(*self, 14, k);
    auto it = self->host->integers.find(k);
    if (it == self->host->integers.end()) return kFail;
    *value = it->second;
    return kOK;
}
HRESULT HOST_CALL ReadString(Object* self, uint32_t instance, const char* const* path, int32_t high, const char* key,
                             char** value) {
    const std::string k = StoreKey(instance, path, high, key);
    self->host->Record(*self, 16, k);
    auto it = self->host->strings.find(k);
    if (it == self->host->strings.end()) return kFail;
    *value = NewString(it->second);
    return kOK;
}

HRESULT HOST_CALL WriteVariableBoolean(Object* self, const char* name, uint8_t value) {
    self->host->Record(*self, 7, View(name) + ", " + std::to_string(value));
    return kOK;
}
HRESULT HOST_CALL WriteVariableFloat(Object* self, const char* name, float value) {
    char v[32];
    std::snprintf(v, sizeof v, "%g", static_cast<double>(value));
    self->host->Record(*self, 11, View(name) + ", " + v);
    return kOK;
}

struct ModuleInstance {
    uint16_t id;
    void* module;
    uint8_t unread[336];
};
HRESULT HOST_CALL CreateInstance(Object* self, Guid moduleID, ModuleInstance* instance, int32_t reserved) {
    self->host->Record(*self, 4, Text(moduleID) + ", " + std::to_string(reserved));
    if (Text(moduleID) != kSelector) return kFail;
    instance->id = 77;
    instance->module = &self->host->selector;
    ++self->host->selector.refs;
    return kOK;
}
HRESULT HOST_CALL DeleteInstance(Object* self, uint32_t instance) {
    self->host->Record(*self, 5, std::to_string(instance));
    return kOK;
}
HRESULT HOST_CALL SetInstanceStatus(Object* self, uint32_t instance, int32_t status) {
    self->host->Record(*self, 14, std::to_string(instance) + ", " + std::to_string(status));
    return kOK;
}

HRESULT HOST_CALL SendDebug(Object* self, uint32_t instance, const char* text, int32_t reserved) {
    self->host->Record(*self, 5, std::to_string(instance) + ", " + View(text) + ", " + std::to_string(reserved));
    return kOK;
}

HRESULT HOST_CALL SelectVariable(Object* self, uint8_t kind, char** name) {
    self->host->Record(*self, 10, std::to_string(kind));
    *name = NewString("Garage.Door");
    return kOK;
}

// A function table: IUnknown's three slots, the listed ones, and everywhere else a recorder of an
// unexpected call. Every table is as long as the longest interface, so that a method moved past the
// end of a short one is recorded too.
std::vector<Slot> Table(std::initializer_list<std::pair<size_t, Slot>> listed) {
    std::vector<Slot> t = UnexpectedSlots(std::make_index_sequence<32>());
    t[0] = AsSlot(&QueryInterface);
    t[1] = AsSlot(&AddRef);
    t[2] = AsSlot(&Release);
    for (const auto& [slot, f] : listed) t[slot] = f;
    return t;
}

// The slot numbers of the published contract.
Host::Host()
    : kernelTable(Table({{7, AsSlot(&LogMessage)}, {11, AsSlot(&GetKernelState)}})),
      settingsTable(Table({{10, AsSlot(&WriteInteger)},
                           {12, AsSlot(&WriteString)},
                           {14, AsSlot(&ReadInteger)},
                           {16, AsSlot(&ReadString)}})),
      variablesTable(Table({{7, AsSlot(&WriteVariableBoolean)}, {11, AsSlot(&WriteVariableFloat)}})),
      controlTable(Table({{4, AsSlot(&CreateInstance)}, {5, AsSlot(&DeleteInstance)}, {14, AsSlot(&SetInstanceStatus)}})),
      scripterTable(Table({})),
      debugTable(Table({{5, AsSlot(&SendDebug)}})),
      selectorTable(Table({{10, AsSlot(&SelectVariable)}})),
      kernel{kernelTable.data(), this, "Kernel", kKernel, 0},
      settings{settingsTable.data(), this, "Settings", kSettings, 0},
      variables{variablesTable.data(), this, "Variables", kVariables, 0},
      control{controlTable.data(), this, "Control", kControl, 0},
      scripter{scripterTable.data(), this, "Scripter", kScripter, 0},
      debug{debugTable.data(), this, "Debug", kDebug, 0},
      selector{selectorTable.data(), this, "Selector", kSelector, 0} {}

// The module information record, fields in the contract's order, naturally aligned.
struct ModuleInfo {
    Guid moduleID, secondaryID;
    int32_t kind;
    uint8_t reserved[80];
    const char *author, *homepage, *name, *description;
    uint16_t value1, value2;
    double timeStamp;
    int32_t value3;
    HRESULT(HOST_CALL* registerModule)(Object* kernel);
    HRESULT(HOST_CALL* unregisterModule)();
    HRESULT(HOST_CALL* createInstance)(uint32_t instance, void** module);
};

constexpr uint32_t kInstance = 7;

// A box on 127.0.0.1 that answers every request with readings and sensor codes.
void Box(zeltest::TPeerConnection& c) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        const std::string b = c.Receive(1);
        if (b.empty()) return;
        head += b;
    }
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<xml><data><devicename>ALL3000</devicename>\r\n"
        "<t0>21.5</t0><t1>1</t1><t2>1013</t2><s0>1</s0><s1>100</s1><s2>40</s2>\r\n</data></xml>\r\n";
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

// The message boxes the module shows while a test runs: counted, and closed with their OK button so
// that none waits for a person.
#ifdef _WIN32
// A hook on this thread, the one that calls the module and so shows its boxes. Counted when the
// dialog is created, which happens also where no display lets it appear (it then fails at once),
// and answered when it activates.
class TMessageBoxes {
public:
    TMessageBoxes() : FHook(::SetWindowsHookExA(WH_CBT, OnCbt, nullptr, ::GetCurrentThreadId())) {
        EXPECT_NE(FHook, nullptr) << "Windows error " << ::GetLastError();
        gWatch = this;
    }
    ~TMessageBoxes() {
        gWatch = nullptr;
        if (FHook) ::UnhookWindowsHookEx(FHook);
    }
    TMessageBoxes(const TMessageBoxes&) = delete;
    TMessageBoxes& operator=(const TMessageBoxes&) = delete;
    int Count() const { return FCount; }

private:
    // The dialog class of message boxes: its name, and the atom a window is created with.
    static constexpr char kDialogClass[] = "#32770";
    static constexpr uintptr_t kDialogAtom = 32770;

    static bool IsDialog(HWND window) {
        char name[8] = {};
        return ::GetClassNameA(window, name, sizeof name) && std::strcmp(name, kDialogClass) == 0;
    }
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) noexcept {
        if (code == HCBT_CREATEWND && gWatch) {
            const char* windowClass = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass;
            if (IS_INTRESOURCE(windowClass) && reinterpret_cast<uintptr_t>(windowClass) == kDialogAtom) ++gWatch->FCount;
        } else if (code == HCBT_ACTIVATE && IsDialog(reinterpret_cast<HWND>(wParam))) {
            // The exact button: WM_CLOSE would answer an OK-only box with IDCANCEL.
            ::PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline TMessageBoxes* gWatch = nullptr;
    HHOOK FHook;
    int FCount = 0;
};
#else
// A box runs a modal event loop of its own, in which this timer still fires.
class TMessageBoxes {
public:
    TMessageBoxes() {
        FCloser.callOnTimeout([this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++FCount;
                modal->close();
            }
        });
        FCloser.start(50);
    }
    int Count() const { return FCount; }

private:
    QTimer FCloser;
    int FCount = 0;
};
#endif

class AbiSlots : public ::testing::Test {
protected:
    void SetUp() override {
        // The instance's box is the loopback one; input 0 is a thermometer, input 1 a switch.
        const std::string at = std::to_string(kInstance) + ", Settings";
        host.strings[at + ", IPAddress"] = address;
        host.integers[at + ", Interval"] = 3600;
        host.strings[at + "/S0, VarName"] = "Temp";
        host.integers[at + "/S0, DeviceType"] = 1;
        host.strings[at + "/S1, VarName"] = "Door";
        host.integers[at + "/S1, DeviceType"] = 4;

        ASSERT_TRUE(library.Loaded()) << library.Error();
        // By its plain name, as every host asks for it.
        auto entry = FunctionCast<HRESULT(HOST_CALL*)(const ModuleInfo**)>(library.Symbol("ZELModuleInfo"));
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(entry(&info), kOK);
        ASSERT_EQ(View(info->name), "ALL3000");
        ASSERT_EQ(Text(info->moduleID), kALL3000);
        ASSERT_EQ(info->registerModule(&host.kernel), kOK);
        ASSERT_EQ(info->createInstance(kInstance, &module), kOK);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        if (module) {
            EXPECT_EQ(CallSlot<int32_t>(module, 2), 0);
        }
        if (info) {
            EXPECT_EQ(info->unregisterModule(), kOK);
        }
        for (const Object* o : {&host.kernel, &host.settings, &host.variables, &host.control, &host.scripter,
                                &host.debug, &host.selector})
            EXPECT_EQ(o->refs, 0) << o->name << " references left";
        EXPECT_EQ(boxes.Count(), expectedBoxes);
#ifndef _WIN32
        // A freed page is deleted later; its code must still be there then.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
#endif
        library.Close();
    }

    HRESULT Query(void* face, const char* iid, void** out) {
        const Guid g = ToGuid(iid);
        return CallSlot<HRESULT>(face, 0, &g, out);
    }
#ifdef _WIN32
    // The module's configuration page, while one is shown, and its controls: windows of this thread
    // that carry their names as the property "ZELName" (a pointer to the name).
    static bool Named(HWND w, const char* name) {
        const auto* own = static_cast<const char*>(::GetPropA(w, "ZELName"));
        return own && std::strcmp(own, name) == 0;
    }
    struct Search {
        const char* name;
        HWND found = nullptr;
    };
    static BOOL CALLBACK Match(HWND w, LPARAM search) {
        auto* s = reinterpret_cast<Search*>(search);
        if (Named(w, s->name) && ::IsWindowVisible(w)) s->found = w;
        return !s->found;
    }
    static HWND Page() {
        Search s{"frmPropertyPage"};
        ::EnumThreadWindows(::GetCurrentThreadId(), Match, reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
    static HWND Control(HWND page, const char* name) {
        Search s{name};
        ::EnumChildWindows(page, Match, reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
#else
    // The module's configuration page, while one is shown.
    static QWidget* Page() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmPropertyPage" && w->isVisible()) return w;
        return nullptr;
    }
#endif

    zeltest::TLoopbackPeer box{Box};
    const std::string address = "127.0.0.1:" + std::to_string(box.Port());
    Host host;
    TMessageBoxes boxes;
    int expectedBoxes = 0;
    zeltest::TTestLibrary library{ZEL_MODULE_PATH};
    const ModuleInfo* info = nullptr;
    void* module = nullptr;
};

TEST_F(AbiSlots, ModuleCallsEachHostServiceAtItsSlot) {
    void* config = nullptr;
    ASSERT_EQ(Query(module, kALL3000, &config), kOK);
    EXPECT_EQ(CallSlot<HRESULT>(config, 13), kOK);  // UpdateNow: the readings go to the variables
    const std::string id = std::to_string(kInstance);
    ASSERT_EQ(CallSlot<HRESULT>(module, 5), kOK);   // the page asks the host's variable selector
    const auto page = Page();
    ASSERT_NE(page, nullptr);
#ifdef _WIN32
    ::SendMessageA(Control(page, "btnSelectVar1"), BM_CLICK, 0, 0);
    char field[32] = {};
    ::GetWindowTextA(Control(page, "edStatus1"), field, sizeof field);
    EXPECT_STREQ(field, "Garage.Door");
#else
    page->findChild<QPushButton*>("btnSelectVar1")->click();
    EXPECT_EQ(page->findChild<QLineEdit*>("edStatus1")->text(), "Garage.Door");
#endif
    EXPECT_EQ(CallSlot<HRESULT>(module, 6), kOK);
    const Call throughPage[] = {
        {"Control", 4, std::string(kSelector) + ", 0"},
        {"Selector", 0, kSelector},
        {"Selector", 10, "1"},  // the kind of a switch's variable
        {"Control", 5, "77"},
    };
    for (const Call& c : throughPage) EXPECT_TRUE(host.Received(c)) << "missing: " << c;
    EXPECT_EQ(CallSlot<HRESULT>(module, 8), kOK);  // SaveSettings
    EXPECT_EQ(CallSlot<int32_t>(config, 2), 1);

    // {object, slot, the arguments as the host writes them}; every one must have been called.
    const Call expected[] = {
        {"Kernel", 7, "10021, ALL3000, Register"},
        {"Kernel", 0, kSettings},
        {"Kernel", 0, kVariables},
        {"Kernel", 0, kScripter},
        {"Kernel", 0, kControl},
        {"Kernel", 0, kDebug},
        {"Kernel", 7, "10021, ALL3000 #" + id + ", Interface Create"},
        {"Kernel", 11, ""},
        {"Settings", 16, id + ", Settings, IPAddress"},
        {"Settings", 14, id + ", Settings, Interval"},
        {"Settings", 16, id + ", Settings/S7, VarName"},
        {"Settings", 14, id + ", Settings/S7, DeviceType"},
        {"Settings", 12, id + ", Settings, IPAddress, " + address},
        {"Settings", 10, id + ", Settings, Interval, 3600"},
        {"Settings", 12, id + ", Settings/S1, VarName, Door"},
        {"Settings", 10, id + ", Settings/S1, DeviceType, 4"},
        {"Debug", 5, id + ", Testing connection on " + address + ", 0"},
        {"Debug", 5, id + ", Updating..., 0"},
        {"Control", 14, id + ", 102"},
        {"Variables", 11, "Temp, 21.5"},
        {"Variables", 7, "Door, 1"},
    };
    for (const Call& c : expected) EXPECT_TRUE(host.Received(c)) << "missing: " << c;
    for (const Call& c : host.calls) EXPECT_NE(c.args, kUnexpected) << c.object << "[" << c.slot << "]";
}

TEST_F(AbiSlots, ModuleInterfacesAnswerAtTheirSlots) {
    void* config = nullptr;
    ASSERT_EQ(Query(module, kALL3000, &config), kOK);

    // 0: QueryInterface. Through IZELALL3000 only IZELModule and IZELALL3000 are answered.
    const struct { void* face; const char* iid; HRESULT result; } queries[] = {
        {module, kModule, kOK}, {module, kALL3000, kOK}, {module, kIUnknown, kOK}, {module, kMessageSink, kOK},
        {module, kKernel, kNoInterface},
        {config, kModule, kOK}, {config, kALL3000, kOK}, {config, kIUnknown, kNoInterface},
        {config, kKernel, kNoInterface},
    };
    for (const auto& q : queries) {
        void* out = &out;
        EXPECT_EQ(Query(q.face, q.iid, &out), q.result) << q.iid;
        if (q.result != kOK) {
            EXPECT_EQ(out, nullptr) << q.iid;
        } else if (out) {
            EXPECT_EQ(CallSlot<int32_t>(out, 2), 2) << q.iid;  // the reference it handed out
        }
    }

    // 1 AddRef, 2 Release, 9 GetRefCount, 3 MessageSink: the same through both faces.
    for (void* face : {module, config}) {
        EXPECT_EQ(CallSlot<int32_t>(face, 9), 2);
        EXPECT_EQ(CallSlot<int32_t>(face, 1), 3);
        EXPECT_EQ(CallSlot<int32_t>(face, 9), 3);
        EXPECT_EQ(CallSlot<int32_t>(face, 2), 2);
        // A pair-sized message: a slot mix-up with ExchangeCallbacks fails instead of crashing.
        void* message[4] = {};
        EXPECT_EQ(CallSlot<HRESULT>(face, 3, static_cast<void*>(message)), kFail);
    }

    // 4 ExchangeCallbacks: the module's receiver takes five 32-bit arguments and answers E_NOTIMPL.
    struct Method {
        void* code;
        void* data;
    } pair[2] = {{&host, &host}, {nullptr, nullptr}};
    EXPECT_EQ(CallSlot<HRESULT>(module, 4, static_cast<void*>(pair)), kOK);
    EXPECT_EQ(pair[0].code, &host);
    ASSERT_NE(pair[1].code, nullptr);
    using Receiver = HRESULT(HOST_CALL*)(void*, int32_t, int32_t, int32_t, int32_t, int32_t);
    EXPECT_EQ(FunctionCast<Receiver>(pair[1].code)(pair[1].data, 1, 2, 3, 4, 5), kNotImpl);

    // 5 ShowPropertyPage, 6 HidePropertyPage.
    EXPECT_EQ(CallSlot<HRESULT>(module, 5), kOK);
    EXPECT_NE(Page(), nullptr);
    EXPECT_EQ(CallSlot<HRESULT>(module, 6), kOK);
    EXPECT_EQ(Page(), nullptr);

    // 10 GetConfiguration: what the store held.
    {
        Config c;
        EXPECT_EQ(CallSlot<HRESULT>(config, 10, static_cast<void*>(&c)), kOK);
        EXPECT_EQ(View(c.address), address);
        EXPECT_EQ(c.interval, 3600);
        EXPECT_EQ(View(c.devices[0].varName), "Temp");
        EXPECT_EQ(View(c.devices[1].varName), "Door");
        EXPECT_EQ(c.devices[1].type, 4);
    }
    // 12 DetectSensors: the box's codes 1, 100 and 40 are temperature, switch and pressure.
    EXPECT_EQ(CallSlot<HRESULT>(config, 12), kOK);
    {
        Config c;
        EXPECT_EQ(CallSlot<HRESULT>(config, 10, static_cast<void*>(&c)), kOK);
        std::vector<int> types;
        for (const auto& d : c.devices) types.push_back(d.type);
        EXPECT_EQ(types, (std::vector<int>{1, 4, 2, 0, 0, 0, 0, 0}));
    }
    // 11 SetConfiguration, then 8 SaveSettings writes it to the store.
    {
        Config c;
        c.address = NewString(address);
        c.interval = 900;
        c.devices[2] = {2, NewString("Pressure")};
        EXPECT_EQ(CallSlot<HRESULT>(config, 11, static_cast<const void*>(&c)), kOK);
    }
    EXPECT_EQ(CallSlot<HRESULT>(module, 8), kOK);
    const std::string id = std::to_string(kInstance);
    EXPECT_EQ(host.integers[id + ", Settings, Interval"], 900);
    EXPECT_EQ(host.strings[id + ", Settings/S2, VarName"], "Pressure");
    EXPECT_EQ(host.integers[id + ", Settings/S2, DeviceType"], 2);
    EXPECT_EQ(host.strings[id + ", Settings/S0, VarName"], "");
    // 7 LoadSettings reads the store again.
    host.integers[id + ", Settings, Interval"] = 1800;
    EXPECT_EQ(CallSlot<HRESULT>(module, 7), kOK);
    {
        Config c;
        EXPECT_EQ(CallSlot<HRESULT>(config, 10, static_cast<void*>(&c)), kOK);
        EXPECT_EQ(c.interval, 1800);
    }
    // 13 UpdateNow: the reading of the input bound above goes to its variable.
    EXPECT_EQ(CallSlot<HRESULT>(config, 13), kOK);
    EXPECT_EQ(host.calls.back(), (Call{"Variables", 11, "Pressure, 1013"}));

    EXPECT_EQ(CallSlot<int32_t>(config, 2), 1);
}

TEST_F(AbiSlots, FailedDetectionShowsOneMessageBox) {
    void* config = nullptr;
    ASSERT_EQ(Query(module, kALL3000, &config), kOK);
    {
        Config c;
        c.address = NewString("127.0.0.1:" + std::to_string(zeltest::UnusedPort()));
        c.interval = 3600;
        // Applied, and its connection test fails without a box.
        EXPECT_EQ(CallSlot<HRESULT>(config, 11, static_cast<const void*>(&c)), kFail);
    }
    EXPECT_EQ(boxes.Count(), 0);
    EXPECT_EQ(CallSlot<HRESULT>(config, 12), kFail);  // DetectSensors: nobody answers
    expectedBoxes = 1;
    EXPECT_EQ(CallSlot<int32_t>(config, 2), 1);
}

}  // namespace
