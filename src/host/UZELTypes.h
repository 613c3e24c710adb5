#pragma once
// The binary contract between the module and any host: result codes, GUIDs, the host interfaces in
// slot order, the module base classes and the module information record. Interfaces are abstract
// classes with the COM layout (QueryInterface, AddRef, Release first); they declare no virtual
// destructor, which would take slots.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/ZELString.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZEL_CALL __stdcall
#else
#define ZEL_CALL
#endif

namespace zel {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr bool Succeeded(HRESULT r) noexcept { return r >= 0; }
constexpr bool Failed(HRESULT r) noexcept { return r < 0; }

struct TGUID {
    uint32_t D1;
    uint16_t D2;
    uint16_t D3;
    uint8_t D4[8];
    friend constexpr bool operator==(const TGUID& a, const TGUID& b) noexcept {
        if (a.D1 != b.D1 || a.D2 != b.D2 || a.D3 != b.D3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.D4[i] != b.D4[i]) return false;
        return true;
    }
};
static_assert(sizeof(TGUID) == 16);

namespace detail {
constexpr int HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}
}  // namespace detail

// Parses the text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; false when the text is not one.
constexpr bool TryParseGUID(std::string_view s, TGUID& g) {
    if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-')
        return false;
    auto hex = [&](size_t pos, size_t n, uint64_t& out) {
        out = 0;
        for (size_t i = 0; i < n; ++i) {
            int d = detail::HexDigit(s[pos + i]);
            if (d < 0) return false;
            out = out * 16 + static_cast<uint64_t>(d);
        }
        return true;
    };
    uint64_t v = 0;
    if (!hex(1, 8, v)) return false;
    g.D1 = static_cast<uint32_t>(v);
    if (!hex(10, 4, v)) return false;
    g.D2 = static_cast<uint16_t>(v);
    if (!hex(15, 4, v)) return false;
    g.D3 = static_cast<uint16_t>(v);
    const size_t pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(pos[i], 2, v)) return false;
        g.D4[i] = static_cast<uint8_t>(v);
    }
    return true;
}

// A GUID from a literal; an ill-formed literal does not compile where used in a constant.
consteval TGUID GUID(std::string_view s) {
    TGUID g{};
    if (!TryParseGUID(s, g)) throw "ill-formed GUID";
    return g;
}

std::string GUIDToString(const TGUID& g);

// ---- interfaces ----------------------------------------------------------------------------
//
// What holds for every interface below unless its comment says otherwise:
// - Threads: the host calls the module's entries and interfaces on its main (user-interface)
//   thread, and the module calls the host back on that thread only: its timer ticks and the end of
//   each background fetch run there. An update's reader thread only fetches over HTTP and calls
//   nothing of the host. A call that waits (UpdateNow, a message box, the selector's dialog)
//   processes messages meanwhile, so either side may be called again, or release the object it
//   is in, before that call returns.
// - In-strings (ZELStr) are lent for the call; a callee that keeps one takes its own reference
//   (ZELString::Share).
// - Out-strings (char**): the caller empties the slot, the callee stores a new counted string
//   (hoststr::Alloc) or nothing, and the caller releases what the slot holds, whatever the result.
// - String memory: whichever side drops a string's last reference frees its block, so both sides
//   allocate and free every counted string with one allocator. On Windows that is the COM task
//   allocator: a host allocates the blocks of the strings it makes with CoTaskMemAlloc and frees
//   those it releases last with CoTaskMemFree, whoever made them. On Linux it is malloc and free.
// - Interfaces handed out (by QueryInterface, an out argument or a record field) carry a reference
//   counted for the receiver, who releases it. Every success code hands one out; after a failure
//   the out value is not used. An interface passed in is lent: a callee that keeps it calls AddRef.
// - Results: any value >= 0 is a success. No exception crosses the boundary: each side turns its
//   own into E_FAIL, and the module takes a host call that throws as a failed one.

// Implemented by every object on either side.
class IUnknown {
public:
    // The interface that `iid` names, with a reference for the caller; else nil and E_NOINTERFACE.
    virtual HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) = 0;  // 0
    // Both give the count after the call; the last Release may free the object.
    virtual int32_t ZEL_CALL AddRef() = 0;   // 1
    virtual int32_t ZEL_CALL Release() = 0;  // 2

protected:
    ~IUnknown() = default;
};
constexpr TGUID IID_IUnknown = GUID("{00000000-0000-0000-C000-000000000046}");

// The base of every interface below. Neither side sends messages; the module's objects answer
// every one with E_FAIL.
class IZELMessageSink : public IUnknown {
public:
    virtual HRESULT ZEL_CALL MessageSink(void* message) = 0;  // 3

protected:
    ~IZELMessageSink() = default;
};
constexpr TGUID IID_IZELMessageSink = GUID("{4AB6071E-F8D1-4968-A432-17751D071BF8}");

// Slots the module does not use are declared so that the used ones sit at their positions.
#define ZEL_RESERVED_SLOT(n) virtual HRESULT ZEL_CALL Reserved##n() = 0

// Implemented by the host, lent to the module by Register. The module keeps a reference until
// Unregister, and each instance one until it is destroyed. QueryInterface hands out the services
// below by their GUIDs; an instance refused one logs the refusal and goes on without it.
class IZELKernel : public IZELMessageSink {
public:
    ZEL_RESERVED_SLOT(4);
    ZEL_RESERVED_SLOT(5);
    ZEL_RESERVED_SLOT(6);
    // A line of the module's log; the result is ignored.
    virtual HRESULT ZEL_CALL LogMessage(int32_t code, ZELStr sender, ZELStr text) = 0;  // 7
    ZEL_RESERVED_SLOT(8);
    ZEL_RESERVED_SLOT(9);
    ZEL_RESERVED_SLOT(10);
    // The host's state in *state; instances test their box only when it succeeds with kKernelStateRunning.
    virtual HRESULT ZEL_CALL GetKernelState(int32_t* state) = 0;  // 11

protected:
    ~IZELKernel() = default;
};
constexpr TGUID IID_IZELKernel = GUID("{BCB79E07-1AA9-42B1-B154-EDC5AFB50D37}");
// The kernel state in which applying a configuration tests the connection to the box.
constexpr int32_t kKernelStateRunning = 10013;

// Implemented by the host: its settings store, one set of values per instance identifier. Called
// by instances in LoadSettings and SaveSettings, which also run when an instance is created and
// destroyed. A path is the section names, given as the first reference and the index of the last
// ("Settings", or "Settings" and "S0" to "S7"); path, key and value strings are lent.
class IZELSettings : public IZELMessageSink {
public:
    ZEL_RESERVED_SLOT(4);
    ZEL_RESERVED_SLOT(5);
    ZEL_RESERVED_SLOT(6);
    ZEL_RESERVED_SLOT(7);
    ZEL_RESERVED_SLOT(8);
    ZEL_RESERVED_SLOT(9);
    // The writes' results are ignored.
    virtual HRESULT ZEL_CALL WriteInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                          int32_t value) = 0;  // 10
    ZEL_RESERVED_SLOT(11);
    virtual HRESULT ZEL_CALL WriteString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                         ZELStr value) = 0;  // 12
    ZEL_RESERVED_SLOT(13);
    // A failed read means nothing is stored: the instance takes its default and ignores *value.
    virtual HRESULT ZEL_CALL ReadInteger(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                         int32_t* value) = 0;  // 14
    ZEL_RESERVED_SLOT(15);
    // As ReadInteger; *value is an out-string, so the instance releases it even after a failure.
    virtual HRESULT ZEL_CALL ReadString(uint32_t instance, const ZELStr* path, int32_t pathHigh, ZELStr key,
                                        char** value) = 0;  // 16
    ZEL_RESERVED_SLOT(17);
    ZEL_RESERVED_SLOT(18);
    ZEL_RESERVED_SLOT(19);
    ZEL_RESERVED_SLOT(20);
    ZEL_RESERVED_SLOT(21);
    ZEL_RESERVED_SLOT(22);
    ZEL_RESERVED_SLOT(23);
    ZEL_RESERVED_SLOT(24);
    ZEL_RESERVED_SLOT(25);
    ZEL_RESERVED_SLOT(26);
    ZEL_RESERVED_SLOT(27);
    ZEL_RESERVED_SLOT(28);
    ZEL_RESERVED_SLOT(29);

protected:
    ~IZELSettings() = default;
};
constexpr TGUID IID_IZELSettings = GUID("{2058C7E1-D444-4EB1-B67A-FD48DBA7D06F}");

// Implemented by the host. Instances write each reading of an update to the variable the user
// bound to its input; the name is lent and the results are ignored.
class IZELVariableManager : public IZELMessageSink {
public:
    ZEL_RESERVED_SLOT(4);
    ZEL_RESERVED_SLOT(5);
    ZEL_RESERVED_SLOT(6);
    // A switch input: 1 or 0.
    virtual HRESULT ZEL_CALL WriteVariableBoolean(ZELStr name, uint8_t value) = 0;  // 7
    ZEL_RESERVED_SLOT(8);
    ZEL_RESERVED_SLOT(9);
    ZEL_RESERVED_SLOT(10);
    // Every other bound input.
    virtual HRESULT ZEL_CALL WriteVariableFloat(ZELStr name, float value) = 0;  // 11
    ZEL_RESERVED_SLOT(12);
    ZEL_RESERVED_SLOT(13);
    ZEL_RESERVED_SLOT(14);
    ZEL_RESERVED_SLOT(15);
    ZEL_RESERVED_SLOT(16);
    ZEL_RESERVED_SLOT(17);
    ZEL_RESERVED_SLOT(18);
    ZEL_RESERVED_SLOT(19);
    ZEL_RESERVED_SLOT(20);
    ZEL_RESERVED_SLOT(21);
    ZEL_RESERVED_SLOT(22);
    ZEL_RESERVED_SLOT(23);

protected:
    ~IZELVariableManager() = default;
};
constexpr TGUID IID_IZELVariableManager = GUID("{5528E859-0D7D-41CE-9E82-D7CF50228A5B}");

class IZELModule;

// What IZELInstanceControl::CreateInstance fills in; the record belongs to the caller.
struct TZELModuleInstance {
    uint16_t InstanceID;  // the new instance's identifier, the one DeleteInstance takes
    IZELModule* Module;   // a reference counted for the caller, who releases it after DeleteInstance
    uint8_t Unread[336];  // the rest of the host's record: the module zeroes it and never reads it
};
#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit layout, proved by every 32-bit build of this header.
static_assert(sizeof(TZELModuleInstance) == 344);
static_assert(offsetof(TZELModuleInstance, InstanceID) == 0);
static_assert(offsetof(TZELModuleInstance, Module) == 4);
static_assert(offsetof(TZELModuleInstance, Unread) == 8);
#endif

// Implemented by the host. Instances report their connection status through it, and the
// configuration page creates the host's variable selector with it (Core.Selector_Types.h).
class IZELInstanceControl : public IZELMessageSink {
public:
    // An instance of the host's module `moduleID` (the module asks only for the variable selector);
    // on success *instance is filled as its fields say. `reserved` is 0.
    virtual HRESULT ZEL_CALL CreateInstance(TGUID moduleID, TZELModuleInstance* instance, int32_t reserved) = 0;  // 4
    // Ends an instance that CreateInstance made; the result is ignored.
    virtual HRESULT ZEL_CALL DeleteInstance(uint32_t instance) = 0;  // 5
    ZEL_RESERVED_SLOT(6);
    ZEL_RESERVED_SLOT(7);
    ZEL_RESERVED_SLOT(8);
    ZEL_RESERVED_SLOT(9);
    ZEL_RESERVED_SLOT(10);
    ZEL_RESERVED_SLOT(11);
    ZEL_RESERVED_SLOT(12);
    ZEL_RESERVED_SLOT(13);
    // The instance's connection status for the host to show; the result is ignored.
    virtual HRESULT ZEL_CALL SetInstanceStatus(uint32_t instance, int32_t status) = 0;  // 14
    ZEL_RESERVED_SLOT(15);
    ZEL_RESERVED_SLOT(16);
    ZEL_RESERVED_SLOT(17);

protected:
    ~IZELInstanceControl() = default;
};
constexpr TGUID IID_IZELInstanceControl = GUID("{0D8CEA36-DFA4-4576-ACC8-5675042D7599}");

// Implemented by the host. Each instance holds a reference from its creation to its destruction
// and never calls it.
class IZELEventScripter : public IZELMessageSink {
public:
    ZEL_RESERVED_SLOT(4);
    ZEL_RESERVED_SLOT(5);
    ZEL_RESERVED_SLOT(6);
    ZEL_RESERVED_SLOT(7);
    ZEL_RESERVED_SLOT(8);
    ZEL_RESERVED_SLOT(9);
    ZEL_RESERVED_SLOT(10);
    ZEL_RESERVED_SLOT(11);
    ZEL_RESERVED_SLOT(12);
    ZEL_RESERVED_SLOT(13);
    ZEL_RESERVED_SLOT(14);
    ZEL_RESERVED_SLOT(15);
    ZEL_RESERVED_SLOT(16);
    ZEL_RESERVED_SLOT(17);
    ZEL_RESERVED_SLOT(18);
    ZEL_RESERVED_SLOT(19);
    ZEL_RESERVED_SLOT(20);

protected:
    ~IZELEventScripter() = default;
};
constexpr TGUID IID_IZELEventScripter = GUID("{ED275B5F-4944-4B37-920F-498C1AFFB14F}");

// Implemented by the host: the instances' debug channel.
class IZELDebugServer : public IZELMessageSink {
public:
    ZEL_RESERVED_SLOT(4);
    // One message of instance `instance`; `reserved` is 0 and the result is ignored.
    virtual HRESULT ZEL_CALL SendDebug(uint32_t instance, ZELStr text, int32_t reserved) = 0;  // 5

protected:
    ~IZELDebugServer() = default;
};
constexpr TGUID IID_IZELDebugServer = GUID("{CA3F512F-B1FB-4D2E-94D8-47C4139555B7}");

#undef ZEL_RESERVED_SLOT

// A method reference: code address, then the object it is bound to. Not counted.
struct TZELMethod {
    void* Code;
    void* Data;
};

// What ExchangeCallbacks swaps: the host's method in, the module's out.
struct TZELCallbackPair {
    TZELMethod HostCallback;
    TZELMethod ModuleCallback;
};

// Implemented by the module's instances and by the host's variable selector. The host calls an
// instance's slots on its main thread; of the selector's slots here the module uses only
// QueryInterface and Release. An instance's last Release destroys it, and before it returns the instance logs, hides
// its page, saves its settings through the host and releases the host's services. The slots below
// say what an instance does.
class IZELModule : public IZELMessageSink {
public:
    // The host sets HostCallback; the instance keeps a copy of the pair, never calls the host's
    // method, and sets ModuleCallback to a method bound to itself (nil for none), valid while it lives.
    virtual HRESULT ZEL_CALL ExchangeCallbacks(TZELCallbackPair& pair) = 0;  // 4
    // Shows the configuration page without waiting for it; E_NOTIMPL in a build without windows.
    // While shown, the page holds a reference to its instance: released with its page open, an
    // instance lives until the page is hidden (by the user or by HidePropertyPage).
    virtual HRESULT ZEL_CALL ShowPropertyPage() = 0;  // 5
    // Hides the page and lets it go; may end an instance the host has released already.
    virtual HRESULT ZEL_CALL HidePropertyPage() = 0;  // 6
    // Reads the configuration from the settings store and applies it as SetConfiguration does.
    virtual HRESULT ZEL_CALL LoadSettings() = 0;  // 7
    // Writes the configuration to the settings store.
    virtual HRESULT ZEL_CALL SaveSettings() = 0;  // 8
    // The object's reference count.
    virtual int32_t ZEL_CALL GetRefCount() = 0;  // 9

protected:
    ~IZELModule() = default;
};
constexpr TGUID IID_IZELModule = GUID("{551860D7-8E44-430B-8C44-CBB5AA708470}");

// ---- module information record -------------------------------------------------------------

using TZELRegisterProc = HRESULT(ZEL_CALL*)(IZELKernel* kernel);
using TZELUnregisterProc = HRESULT(ZEL_CALL*)();
using TZELCreateInstanceProc = HRESULT(ZEL_CALL*)(uint32_t instanceID, IZELModule** module);

// The module information record: static data of the library, read by the host through the address
// that ZELModuleInfo gives, valid while the library stays loaded. Its strings are constants
// (reference count -1) that nobody releases. The host calls the three entries on its main thread.
struct TZELModuleInfo {
    TGUID ModuleID;        // the module's identifier, also the GUID of its configuration interface
    TGUID SecondaryID;     // a second identifier, the same value; no host here reads it
    int32_t ModuleKind;    // the module's kind; no host here reads it
    uint8_t Reserved[80];  // all zero
    ZELStr Author;         // who made the module
    ZELStr Homepage;       // the module's home page; nil (the empty string) when it has none
    ZELStr Name;           // the module's name, and the sender of its log lines ("ALL3000 #7" for an instance)
    ZELStr Description;    // one line about the module, in Windows-1252 like every host string
    uint16_t Value1;       // a number the record carries; no host here reads it
    uint16_t Value2;       // as Value1
    double TimeStamp;      // a date-time in days since 1899-12-30; no host here reads it
    int32_t Value3;        // as Value1
    // First, with the host's kernel: the module keeps a reference to it until Unregister.
    TZELRegisterProc Register;
    // Last: the module lets go of its kernel reference (instances still alive keep their own).
    TZELUnregisterProc Unregister;
    // One instance per call, for the host's 16-bit identifier passed widened; *module receives a
    // reference counted for the host, and the last Release destroys the instance.
    TZELCreateInstanceProc CreateInstance;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit layout, proved by every 32-bit build of this header: exactly the record's 160 bytes.
static_assert(sizeof(TZELModuleInfo) == 160);
static_assert(offsetof(TZELModuleInfo, ModuleID) == 0);
static_assert(offsetof(TZELModuleInfo, SecondaryID) == 16);
static_assert(offsetof(TZELModuleInfo, ModuleKind) == 32);
static_assert(offsetof(TZELModuleInfo, Reserved) == 36);
static_assert(offsetof(TZELModuleInfo, Author) == 116);
static_assert(offsetof(TZELModuleInfo, Homepage) == 120);
static_assert(offsetof(TZELModuleInfo, Name) == 124);
static_assert(offsetof(TZELModuleInfo, Description) == 128);
static_assert(offsetof(TZELModuleInfo, Value1) == 132);
static_assert(offsetof(TZELModuleInfo, Value2) == 134);
static_assert(offsetof(TZELModuleInfo, TimeStamp) == 136);
static_assert(offsetof(TZELModuleInfo, Value3) == 144);
static_assert(offsetof(TZELModuleInfo, Register) == 148);
static_assert(offsetof(TZELModuleInfo, Unregister) == 152);
static_assert(offsetof(TZELModuleInfo, CreateInstance) == 156);
#endif

// The library's one export, called by the host on its main thread once the library is loaded: it
// stores the address of the module information record in *info.
using TZELModuleInfoProc = HRESULT(ZEL_CALL*)(const TZELModuleInfo** info);

// ---- module base classes -------------------------------------------------------------------

// A reference-counted object implementing IZELMessageSink; destroyed with its last reference.
class TZELMessageObject : public IZELMessageSink {
public:
    TZELMessageObject(const TZELMessageObject&) = delete;
    TZELMessageObject& operator=(const TZELMessageObject&) = delete;

    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
    int32_t ZEL_CALL AddRef() override;
    int32_t ZEL_CALL Release() override;
    HRESULT ZEL_CALL MessageSink(void* message) override;

protected:
    TZELMessageObject() = default;
    virtual ~TZELMessageObject() = default;
    // Gives the interface of this object's class that `iid` names, with a reference; false if none.
    virtual bool GetInterface(const TGUID& iid, void** obj);
    int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> FRefCount{0};
};

// The default behaviour of IZELModule for module instances.
class TZELModuleObject : public TZELMessageObject, public IZELModule {
public:
    // IZELModule's first slots reach the same object as IZELMessageSink's.
    HRESULT ZEL_CALL QueryInterface(const TGUID& iid, void** obj) override;
    int32_t ZEL_CALL AddRef() override;
    int32_t ZEL_CALL Release() override;
    HRESULT ZEL_CALL MessageSink(void* message) override;
    HRESULT ZEL_CALL ExchangeCallbacks(TZELCallbackPair& pair) override;
    HRESULT ZEL_CALL ShowPropertyPage() override;
    HRESULT ZEL_CALL HidePropertyPage() override;
    HRESULT ZEL_CALL LoadSettings() override;
    HRESULT ZEL_CALL SaveSettings() override;
    int32_t ZEL_CALL GetRefCount() final;

protected:
    TZELModuleObject() = default;
    ~TZELModuleObject() override = default;
    bool GetInterface(const TGUID& iid, void** obj) override;
};

}  // namespace zel
