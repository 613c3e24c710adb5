#pragma once
// An ordered list of text lines of the form name<separator>value, as the runtime's string list.
// A line's name is the text before its first separator (empty when there is none); names match
// ASCII case-insensitively.
#include <string>
#include <string_view>
#include <vector>

namespace zel {

class TStringList {
public:
    explicit TStringList(char nameValueSeparator = '=') : FSeparator(nameValueSeparator) {}

    int Count() const noexcept { return static_cast<int>(FLines.size()); }
    const std::string& Strings(int index) const;  // EListError out of range
    void SetStrings(int index, std::string line);
    void Add(std::string line) { FLines.push_back(std::move(line)); }
    void Insert(int index, std::string line);  // index may equal Count
    void Delete(int index);
    void Clear() noexcept { FLines.clear(); }
    void Reserve(int count) { FLines.reserve(static_cast<size_t>(count)); }
    void Assign(const TStringList& other) { FLines = other.FLines; }
    const std::vector<std::string>& Lines() const noexcept { return FLines; }

    std::string Name(int index) const;
    int IndexOfName(std::string_view name) const noexcept;
    std::string Value(std::string_view name) const;
    // The text after the separator of line `index` (empty when it has none).
    std::string ValueFromIndex(int index) const;
    // A non-empty value replaces the first line of that name or appends one; an empty value
    // removes the first line of that name.
    void SetValue(std::string_view name, std::string_view value);

    // One line per CR-, LF- or CR LF-terminated piece; a final line break adds no empty line.
    void SetText(std::string_view text);
    // Every line followed by CR LF.
    std::string Text() const;

private:
    std::string_view NameOf(const std::string& line) const noexcept;

    std::vector<std::string> FLines;
    char FSeparator;
};

}  // namespace zel
