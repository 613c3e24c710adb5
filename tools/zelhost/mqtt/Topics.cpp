#include "Topics.h"

#include "Events.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool Escaped(unsigned char c) noexcept {
    switch (c) {
        case '%':
        case '/':
        case '+':
        case '#':
        case 0x7F:
        case 0x81:  // the five bytes Windows-1252 leaves unassigned: they would all become U+FFFD
        case 0x8D:
        case 0x8F:
        case 0x90:
        case 0x9D: return true;
        default: return c < 0x20;
    }
}

void AppendHex(std::string& out, char lead, unsigned char c) {
    out += lead;
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

std::string TopicLevel(std::string_view win1252) {
    std::string level;
    level.reserve(win1252.size());
    size_t plain = 0;  // start of the run of bytes converted as they are
    for (size_t i = 0; i <= win1252.size(); ++i) {
        if (i < win1252.size() && !Escaped(static_cast<unsigned char>(win1252[i]))) continue;
        level += zel::Win1252ToUtf8(win1252.substr(plain, i - plain));
        if (i < win1252.size()) AppendHex(level, '%', static_cast<unsigned char>(win1252[i]));
        plain = i + 1;
    }
    return level;
}

std::string NodeId(std::string_view clientId) {
    std::string id;
    for (char ch : clientId) {
        const auto c = static_cast<unsigned char>(ch);
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (kept)
            id += ch;
        else
            AppendHex(id, '_', c);
    }
    return id;
}

std::optional<uint16_t> TTopics::CommandInstance(std::string_view topic) const {
    const std::string head = FPrefix + "/instance/";
    constexpr std::string_view tail = "/command";
    if (!topic.starts_with(head) || !topic.ends_with(tail)) return std::nullopt;
    // "P/instance/command" has both ends, overlapping.
    if (topic.size() <= head.size() + tail.size()) return std::nullopt;
    std::string_view digits = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    if (digits.size() > 5 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    uint32_t id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + static_cast<uint32_t>(c - '0');
    }
    if (id > 65535) return std::nullopt;
    return static_cast<uint16_t>(id);
}

std::string LogPayload(int32_t code, std::string_view win1252Sender, std::string_view win1252Text) {
    return "{\"code\":" + std::to_string(code) + ",\"sender\":" + JsonString(zel::Win1252ToUtf8(win1252Sender)) +
           ",\"text\":" + JsonString(zel::Win1252ToUtf8(win1252Text)) + "}";
}

}  // namespace zelhost
