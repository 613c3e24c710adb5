#pragma once
// What the host prints about the module: one line per event, readable or as one JSON object per
// line. Text from the module is 8-bit Windows-1252; it becomes UTF-8 only here, for output.
#include <atomic>
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

// What else follows the events besides the output (the MQTT bridge). Called after the line is
// printed, on the thread of the event: the main thread for everything a module does, any thread
// for the host's notices. Texts and names are the module's Windows-1252 bytes. Must not block.
class TEventListener {
public:
    virtual ~TEventListener() = default;
    virtual void OnLog(int32_t code, std::string_view sender, std::string_view text) noexcept = 0;
    virtual void OnDebug(uint32_t instance, std::string_view text) noexcept = 0;
    virtual void OnVariableFloat(std::string_view name, float value) noexcept = 0;
    virtual void OnVariableBoolean(std::string_view name, bool value) noexcept = 0;
    virtual void OnStatus(uint32_t instance, int32_t status) noexcept = 0;
};

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
    // Set on the main thread while no event comes (before the instances are created, after they
    // are gone); null: none.
    void SetListener(TEventListener* listener) noexcept { FListener.store(listener); }

private:
    void Emit(const std::string& line);

    bool FJson;
    TSink FSink;
    std::atomic<TEventListener*> FListener{nullptr};
    std::mutex FLock;
};

}  // namespace zelhost
