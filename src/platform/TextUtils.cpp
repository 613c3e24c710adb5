#include "platform/TextUtils.h"

#include "platform/Exceptions.h"

namespace zel {

std::string Trim(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = UpperAscii(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

bool StartsText(std::string_view prefix, std::string_view s) noexcept {
    return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool TryStrToInt(std::string_view s, int32_t& value) noexcept {
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9' || v > INT32_MAX + int64_t{1}) return false;
        v = v * 10 + (s[i] - '0');
    }
    if (s[0] == '-') v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(std::string_view s) {
    int32_t value = 0;
    if (!TryStrToInt(s, value)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return value;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    size_t pos = s.find(from);
    if (pos == std::string_view::npos) return std::string(s);
    std::string r;
    r.reserve(s.size());
    size_t start = 0;
    while (pos != std::string_view::npos) {
        r.append(s.substr(start, pos - start));
        r.append(to);
        start = pos + from.size();
        pos = s.find(from, start);
    }
    r.append(s.substr(start));
    return r;
}

namespace {
// The characters of the bytes 0x80-0x9F; U+FFFD marks the five unassigned ones.
const char16_t kHigh1252[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};
}  // namespace

std::string Utf8ToWin1252(std::string_view utf8) {
    std::string r;
    r.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        bool valid = length > 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        i += valid ? length : 1;
        char byte = '?';
        if (valid && (code < 0x80 || (code >= 0xA0 && code <= 0xFF))) {
            byte = static_cast<char>(code);
        } else if (valid && code != 0xFFFD) {
            for (unsigned b = 0; b < 32; ++b)
                if (kHigh1252[b] == code) byte = static_cast<char>(0x80 + b);
        }
        r += byte;
    }
    return r;
}

std::string Win1252ToUtf8(std::string_view text) {
    const char16_t* high = kHigh1252;
    std::string r;
    r.reserve(text.size());
    for (char ch : text) {
        unsigned c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            r += ch;
            continue;
        }
        unsigned u = (c < 0xA0) ? high[c - 0x80] : c;
        if (u < 0x800) {
            r += static_cast<char>(0xC0 | (u >> 6));
        } else {
            r += static_cast<char>(0xE0 | (u >> 12));
            r += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        }
        r += static_cast<char>(0x80 | (u & 0x3F));
    }
    return r;
}

}  // namespace zel
