#include "Events.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/TextUtils.h"

namespace zelhost {

namespace {

const char HexDigits[] = "0123456789abcdef";

// Module text as UTF-8 for a readable line: control bytes would break the one-line-per-event
// layout, so they are shown as \xHH.
std::string Readable(std::string_view text) {
    std::string utf8 = zel::Win1252ToUtf8(text);
    std::string r;
    r.reserve(utf8.size());
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            r += "\\x";
            r += HexDigits[u >> 4];
            r += HexDigits[u & 15];
        } else {
            r += c;
        }
    }
    return r;
}

std::string Json(std::string_view text) { return JsonString(zel::Win1252ToUtf8(text)); }

}  // namespace

std::string JsonString(std::string_view utf8) {
    std::string r;
    r.reserve(utf8.size() + 2);
    r += '"';
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            r += '\\';
            r += c;
        } else if (u < 0x20) {
            r += "\\u00";
            r += HexDigits[u >> 4];
            r += HexDigits[u & 15];
        } else {
            r += c;
        }
    }
    r += '"';
    return r;
}

std::string FormatFloat(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc()) return "nan";
    return std::string(buf, end);
}

TEventPrinter::TEventPrinter(bool json, TSink sink) : FJson(json), FSink(std::move(sink)) {}

void TEventPrinter::Emit(const std::string& line) {
    std::lock_guard lock(FLock);
    if (FSink) {
        FSink(line);
        return;
    }
    // A reader that went away must not end the host: the write just fails.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void TEventPrinter::Log(int32_t code, std::string_view sender, std::string_view text) {
    if (FJson)
        Emit("{\"event\":\"log\",\"code\":" + std::to_string(code) + ",\"sender\":" + Json(sender) +
             ",\"text\":" + Json(text) + "}");
    else
        Emit("log    " + std::to_string(code) + " " + Readable(sender) + ": " + Readable(text));
    if (TEventListener* l = FListener.load()) l->OnLog(code, sender, text);
}

void TEventPrinter::Debug(uint32_t instance, std::string_view text) {
    if (FJson)
        Emit("{\"event\":\"debug\",\"instance\":" + std::to_string(instance) + ",\"text\":" + Json(text) + "}");
    else
        Emit("debug  #" + std::to_string(instance) + ": " + Readable(text));
    if (TEventListener* l = FListener.load()) l->OnDebug(instance, text);
}

void TEventPrinter::VariableFloat(std::string_view name, float value) {
    std::string v = FormatFloat(value);
    if (FJson) {
        // JSON has no number for NaN or infinity.
        if (!std::isfinite(value)) v = "null";
        Emit("{\"event\":\"variable\",\"name\":" + Json(name) + ",\"type\":\"float\",\"value\":" + v + "}");
    } else {
        Emit("var    " + Readable(name) + " = " + v + " (float)");
    }
    if (TEventListener* l = FListener.load()) l->OnVariableFloat(name, value);
}

void TEventPrinter::VariableBoolean(std::string_view name, bool value) {
    const char* v = value ? "true" : "false";
    if (FJson)
        Emit("{\"event\":\"variable\",\"name\":" + Json(name) + ",\"type\":\"boolean\",\"value\":" + v + "}");
    else
        Emit("var    " + Readable(name) + " = " + v + " (boolean)");
    if (TEventListener* l = FListener.load()) l->OnVariableBoolean(name, value);
}

void TEventPrinter::Status(uint32_t instance, int32_t status) {
    if (FJson)
        Emit("{\"event\":\"status\",\"instance\":" + std::to_string(instance) + ",\"status\":" +
             std::to_string(status) + "}");
    else
        Emit("status #" + std::to_string(instance) + ": " + std::to_string(status));
    if (TEventListener* l = FListener.load()) l->OnStatus(instance, status);
}

void TEventPrinter::MessageBox(std::string_view utf8) {
    if (FJson)
        Emit("{\"event\":\"messagebox\",\"text\":" + JsonString(utf8) + "}");
    else
        Emit("message box: " + std::string(utf8));
}

}  // namespace zelhost
