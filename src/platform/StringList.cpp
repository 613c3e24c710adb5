#include "platform/StringList.h"

#include "platform/Exceptions.h"
#include "platform/TextUtils.h"

namespace zel {

namespace {

[[noreturn]] void IndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

const std::string& TStringList::Strings(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return FLines[static_cast<size_t>(index)];
}

void TStringList::SetStrings(int index, std::string line) {
    if (index < 0 || index >= Count()) IndexError(index);
    FLines[static_cast<size_t>(index)] = std::move(line);
}

void TStringList::Insert(int index, std::string line) {
    if (index < 0 || index > Count()) IndexError(index);
    FLines.insert(FLines.begin() + index, std::move(line));
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) IndexError(index);
    FLines.erase(FLines.begin() + index);
}

std::string_view TStringList::NameOf(const std::string& line) const noexcept {
    size_t p = line.find(FSeparator);
    return p == std::string::npos ? std::string_view() : std::string_view(line).substr(0, p);
}

std::string TStringList::Name(int index) const { return std::string(NameOf(Strings(index))); }

int TStringList::IndexOfName(std::string_view name) const noexcept {
    for (size_t i = 0; i < FLines.size(); ++i)
        if (SameText(NameOf(FLines[i]), name)) return static_cast<int>(i);
    return -1;
}

std::string TStringList::Value(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = Strings(index);
    size_t p = line.find(FSeparator);
    return p == std::string::npos ? std::string() : line.substr(p + 1);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).push_back(FSeparator);
    line.append(value);
    if (i >= 0)
        FLines[static_cast<size_t>(i)] = std::move(line);
    else
        FLines.push_back(std::move(line));
}

void TStringList::SetText(std::string_view text) {
    FLines.clear();
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            FLines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) FLines.emplace_back(text.substr(start));
}

std::string TStringList::Text() const {
    std::string r;
    for (const auto& line : FLines) {
        r += line;
        r += "\r\n";
    }
    return r;
}

}  // namespace zel
