#include "device/UZELUtils.h"

namespace zel {

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
        // Whatever the store hands back is ours to release, even with a failing answer.
        if (settings->ReadString(instanceID, path.Data(), path.High(), k.Ref(), read.Out()) != S_OK) return false;
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
        if (settings->ReadInteger(instanceID, path.Data(), path.High(), k.Ref(), &read) != S_OK) return false;
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

}  // namespace zel
