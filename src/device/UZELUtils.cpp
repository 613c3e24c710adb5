#include "device/UZELUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "device/IO.ALL3000_Types.h"
#include "host/Core.Selector_Types.h"
#include "platform/Exceptions.h"
#include "platform/TextUtils.h"

namespace zel {

std::string CurrentFailureText() noexcept {
    try {
        std::string text;
        try {
            throw;
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
            // Not one of ours: nothing more can be said of it.
        }
        text = ReplaceAll(ReplaceAll(ReplaceAll(text, "\r\n", " "), "\r", " "), "\n", " ");
        return text.empty() ? "unknown failure" : text;
    } catch (...) {
        return {};  // no memory left for the text
    }
}

std::string InstanceSender(const TZELModuleInfo* info, uint16_t instanceID) {
    std::string sender(info ? hoststr::View(info->Name) : std::string_view());
    sender += " #";
    sender += std::to_string(instanceID);
    return sender;
}

void KernelLog(IZELKernel* kernel, int32_t code, std::string_view sender, std::string_view text) noexcept {
    if (!kernel) return;
    try {
        ZELString s(sender);
        ZELString t(text);
        kernel->LogMessage(code, s.Ref(), t.Ref());
    } catch (...) {
        // A log line that cannot be delivered is dropped; it must not end the caller's work.
    }
}

TSettingsPath::TSettingsPath(std::initializer_list<std::string_view> sections) {
    FSections.reserve(sections.size());
    FRefs.reserve(sections.size());
    for (std::string_view s : sections) {
        FSections.emplace_back(s);
        FRefs.push_back(FSections.back().Ref());
    }
}

bool ReadSettingString(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                       ZELString& value) noexcept {
    if (!settings) return false;
    try {
        ZELString k(key);
        ZELString read;
        // Whatever the store hands back is ours to release, even with a failing answer. Every
        // success code is a success, not only S_OK.
        if (!Succeeded(settings->ReadString(instanceID, path.Data(), path.High(), k.Ref(), read.Out()))) return false;
        value = std::move(read);
        return true;
    } catch (...) {
        return false;
    }
}

bool ReadSettingInteger(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                        int32_t& value) noexcept {
    if (!settings) return false;
    try {
        ZELString k(key);
        int32_t read = 0;
        if (!Succeeded(settings->ReadInteger(instanceID, path.Data(), path.High(), k.Ref(), &read))) return false;
        value = read;
        return true;
    } catch (...) {
        return false;
    }
}

void WriteSettingString(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                        const ZELString& value) noexcept {
    if (!settings) return;
    try {
        ZELString k(key);
        settings->WriteString(instanceID, path.Data(), path.High(), k.Ref(), value.Ref());
    } catch (...) {
        // A failed write goes unnoticed, like a failing answer.
    }
}

void WriteSettingInteger(IZELSettings* settings, uint16_t instanceID, const TSettingsPath& path, std::string_view key,
                         int32_t value) noexcept {
    if (!settings) return;
    try {
        ZELString k(key);
        settings->WriteInteger(instanceID, path.Data(), path.High(), k.Ref(), value);
    } catch (...) {
        // As above.
    }
}

double ParseReading(std::string_view text) {
    auto fail = [text] { return EConvertError("'" + std::string(text) + "' is not a valid floating point value"); };
    std::string number(text);
    size_t i = 0;
    auto digits = [&] {
        size_t start = i;
        while (i < number.size() && number[i] >= '0' && number[i] <= '9') ++i;
        return i - start;
    };
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
    const size_t intStart = i;
    const size_t intDigits = digits();
    size_t mantissa = intDigits;
    if (i < number.size() && (number[i] == '.' || number[i] == ',')) {
        number[i++] = '.';
        mantissa += digits();
    }
    if (mantissa == 0) throw fail();
    // The decimal exponent, saturated: only its sign matters for a value out of a double's range.
    int64_t exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
        const size_t start = i;
        if (digits() == 0) throw fail();
        for (size_t d = start; d < i; ++d) exponent = std::min<int64_t>(exponent * 10 + (number[d] - '0'), 1 << 30);
        if (negative) exponent = -exponent;
    }
    if (i != number.size()) throw fail();
    // from_chars reads no leading "+" and never looks at the locale.
    const char* begin = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    auto [end, error] = std::from_chars(begin, number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Beyond a double either way: the place of the first significant digit says which. Too
        // small for a float reads 0, as the narrowing to a float would give.
        const size_t first = number.find_first_of("123456789", intStart);
        const int64_t lead = first < intStart + intDigits ? static_cast<int64_t>(intStart + intDigits - first) - 1
                                                          : static_cast<int64_t>(intStart + intDigits) - static_cast<int64_t>(first);
        if (first != std::string::npos && lead + exponent < 0) return number[0] == '-' ? -0.0 : 0.0;
        throw fail();
    }
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value) ||
        std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        throw fail();
    return value;
}

std::string SensorTypeName(uint8_t type) {
    static const char* const kNames[] = {"Unknown", "Temperature", "Pressure", "Moisture", "Switch", "Analog", "Counter"};
    const unsigned low = type & 0x7Fu;
    return low < std::size(kNames) ? kNames[low] : "Unknown";
}

uint8_t SensorVariableKind(uint8_t type) { return type == stSwitch ? VariableKindBoolean : VariableKindFloat; }

uint8_t SensorTypeFromCode(int32_t code) noexcept {
    if (code >= 1 && code <= 9) return stTemperature;
    switch (code) {
        case 32: return stAnalog;
        case 40: return stPressure;
        case 65: return stMoisture;
        case 97: case 100: case 101: return stSwitch;
        case 133: return stCounter;
        default: return stNone;
    }
}

HRESULT RunVariableSelector(IZELInstanceControl* control, uint8_t kind, ZELString& name) {
    if (!control) return E_FAIL;
    TZELModuleInstance instance{};
    HRESULT r = control->CreateInstance(IID_IZELVariableSelector, &instance, 0);
    if (!Succeeded(r)) return r;
    // The instance's module reference was counted for us; it is released below.
    IZELModule* module = instance.Module;
    void* p = nullptr;
    r = module ? module->QueryInterface(IID_IZELVariableSelector, &p) : E_FAIL;
    auto* selector = Succeeded(r) ? static_cast<IZELVariableSelector*>(p) : nullptr;
    // The instance is deleted first, then the references to it are released.
    auto cleanUp = [&] {
        control->DeleteInstance(instance.InstanceID);
        if (selector) selector->Release();
        if (module) module->Release();
    };
    try {
        if (selector)
            r = selector->SelectVariable(kind, name.Out());
        else if (Succeeded(r))
            r = E_FAIL;  // success without an interface
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
    return r;
}

}  // namespace zel
