#pragma once
// What the host prints about the module: one line per event, readable or as one JSON object per
// line. Text from the module is 8-bit Windows-1252; it becomes UTF-8 only here, for output.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace zelhost {

// The host's own notices (a module that kept references, a store that could not be written) use
// the log shape with this sender and code, so a reader of the stream sees them in order.
constexpr std::string_view HostSender = "zelhost";
constexpr int32_t HostNoticeCode = 0;

// A JSON string literal (quotes included) for UTF-8 text; control bytes become \u00XX.
std::string JsonString(std::string_view utf8);
// The shortest text that reads back as the same float; "nan", "inf" or "-inf" when not finite.
std::string FormatFloat(float value);

class TEventPrinter {
public:
    using TSink = std::function<void(std::string_view line)>;

    // Without a sink, lines go to stdout, flushed one by one.
    explicit TEventPrinter(bool json, TSink sink = {});

    void Log(int32_t code, std::string_view sender, std::string_view text);
    void Debug(uint32_t instance, std::string_view text);
    void VariableFloat(std::string_view name, float value);
    void VariableBoolean(std::string_view name, bool value);
    void Status(uint32_t instance, int32_t status);
    // A message box a module showed; `utf8` is already UTF-8 (the box's own text).
    void MessageBox(std::string_view utf8);
    void Notice(std::string_view text) { Log(HostNoticeCode, HostSender, text); }

private:
    void Emit(const std::string& line);

    bool FJson;
    TSink FSink;
    std::mutex FLock;
};

}  // namespace zelhost
