#pragma once
// Byte-string helpers. Text is 8-bit throughout; blanks are the bytes 0-32 taken as unsigned, and
// case folding is ASCII-only so that no result depends on the process locale.
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

inline bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= 32; }

// Whether `s` holds a byte that is not a blank.
inline bool HasNonBlank(std::string_view s) noexcept {
    for (char c : s)
        if (!IsBlank(c)) return true;
    return false;
}

inline char UpperAscii(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string Trim(std::string_view s);
std::string UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b) noexcept;
bool StartsText(std::string_view prefix, std::string_view s) noexcept;

// Replaces every occurrence of `from` by `to`, scanning left to right without rescanning what was
// inserted (the runtime's replace-all).
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// The runtime's integer conversion: an optional sign and decimal digits that fit 32 bits, nothing
// else (no blanks, no hex); EConvertError otherwise.
int32_t StrToInt(std::string_view s);
// The same texts as StrToInt, without raising: false, and `value` untouched, for any other text.
bool TryStrToInt(std::string_view s, int32_t& value) noexcept;

// Windows-1252 text as UTF-8, for showing 8-bit text to people; the five unassigned bytes map to
// U+FFFD.
std::string Win1252ToUtf8(std::string_view text);
// The other way: UTF-8 text (typed or chosen by people) as Windows-1252; characters it cannot hold,
// and broken UTF-8, become '?'.
std::string Utf8ToWin1252(std::string_view utf8);

}  // namespace zel
