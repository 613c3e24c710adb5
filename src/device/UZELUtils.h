#pragma once
// Small helpers shared by the module entry and its instances: holding host interface references,
// host log lines, and settings access with a section path.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "host/UZELTypes.h"
#include "host/ZELString.h"

namespace zel {

// Host log codes.
constexpr int32_t LogCodeInfo = 10021;
constexpr int32_t LogCodeServiceRefused = 10024;
constexpr int32_t LogCodeConnectionFailed = 10025;

// Holds at most one counted reference to an interface and releases it when dropped.
template <class T>
class TIntf {
public:
    TIntf() noexcept = default;
    ~TIntf() { Reset(); }
    TIntf(const TIntf&) = delete;
    TIntf& operator=(const TIntf&) = delete;

    // Takes a new reference to `p` (nil allowed), then lets go of the one held before.
    void Assign(T* p) noexcept {
        if (p) p->AddRef();
        T* old = FPtr;
        FPtr = p;
        if (old) old->Release();
    }
    // Lets go of the held reference. The field is cleared before the release, so code that the
    // release runs sees it empty.
    void Reset() noexcept {
        T* old = FPtr;
        FPtr = nullptr;
        if (old) old->Release();
    }
    T* Get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    // Asks `source` for the interface `iid` into this holder. A refusal, or an exception from the
    // other side, leaves it empty; a failing answer's out value is never trusted.
    bool Query(IUnknown* source, const TGUID& iid) noexcept {
        Reset();
        if (!source) return false;
        void* p = nullptr;
        HRESULT r = E_FAIL;
        try {
            r = source->QueryInterface(iid, &p);
        } catch (...) {
            return false;
        }
        // Any success code hands over a reference (S_FALSE too); a failing answer's value is not ours.
        if (!Succeeded(r) || !p) return false;
        FPtr = static_cast<T*>(p);
        return true;
    }

private:
    T* FPtr = nullptr;
};

// Runs the body of an operation that the host calls: nothing thrown inside may cross the boundary,
// a failure becomes E_FAIL.
template <class F>
HRESULT Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return E_FAIL;
    }
}

// The text of the exception being handled, on one line (its line breaks become blanks), to tell
// people why something failed. Only inside a catch block; empty when no memory is left for it.
std::string CurrentFailureText() noexcept;

// The sender of an instance's log lines: the module name, " #", the instance identifier in decimal.
std::string InstanceSender(const TZELModuleInfo* info, uint16_t instanceID);

// LogMessage through the kernel; nothing without a kernel. The host's answer is not used, and a
// failure on its side does not reach the caller.
void KernelLog(IZELKernel* kernel, int32_t code, std::string_view sender, std::string_view text) noexcept;

// A section path as the settings store takes it: the first section reference and the index of the
// last.
class TSettingsPath {
public:
    TSettingsPath(std::initializer_list<std::string_view> sections);
    const ZELStr* Data() const noexcept { return FRefs.data(); }
    int32_t High() const noexcept { return static_cast<int32_t>(FRefs.size()) - 1; }

private:
    std::vector<ZELString> FSections;
    std::vector<ZELStr> FRefs;
};

// Settings reads: true and the value when the store answers with a success code; false (value untouched) when it
// refuses, has nothing stored, or fails in any way, so the caller takes its default.
bool ReadSettingString(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                       ZELString& value) noexcept;
bool ReadSettingInteger(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                        int32_t& value) noexcept;
// Settings writes; their outcome is not looked at.
void WriteSettingString(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                        const ZELString& value) noexcept;
void WriteSettingInteger(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                         int32_t value) noexcept;

// A reading as the box writes it: an optional sign, digits with at most one decimal point ("." and ","
// both count, whatever the process locale), an optional exponent. Anything else, the empty text,
// and values that are not finite or too large for a 32-bit float raise EConvertError; a value too
// small for any float reads as 0.
double ParseReading(std::string_view text);

// The display name of a sensor type, chosen by its low 7 bits: 1 to 6 "Temperature" to "Counter",
// anything else "Unknown".
std::string SensorTypeName(uint8_t type);
// The kind of host variable an input of that type is bound to: 1 (boolean) for a switch, else 4
// (float).
uint8_t SensorVariableKind(uint8_t type);
// The sensor type for a code the box reports (0 for codes it does not know).
uint8_t SensorTypeFromCode(int32_t code) noexcept;

// Asks the host's variable selector for a variable of `kind`: creates a selector instance through
// `control`, asks it, deletes it, then releases its references. On success `name` holds the chosen
// variable.
HRESULT RunVariableSelector(IZELInstanceControl* control, uint8_t kind, ZELString& name);

}  // namespace zel
