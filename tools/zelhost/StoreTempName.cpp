#include "StoreTempName.h"

#include <charconv>

namespace zelhost {

std::optional<uint32_t> TempWriterPid(std::string_view name, std::string_view prefix) {
    constexpr std::string_view suffix = ".tmp";
    if (!name.starts_with(prefix) || !name.ends_with(suffix) || name.size() < prefix.size() + suffix.size())
        return std::nullopt;
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const size_t dash = middle.find('-');
    const std::string_view counter = dash == std::string_view::npos ? std::string_view() : middle.substr(dash + 1);
    if (counter.empty() || counter.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    uint32_t v = 0;
    auto [ptr, ec] = std::from_chars(middle.data(), middle.data() + dash, v);
    if (dash == 0 || ec != std::errc() || ptr != middle.data() + dash || v == 0) return std::nullopt;
    return v;
}

}  // namespace zelhost
