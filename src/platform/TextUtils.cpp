#include "platform/TextUtils.h"

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

}  // namespace zel
