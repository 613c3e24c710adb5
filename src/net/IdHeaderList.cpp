#include "net/IdHeaderList.h"

#include "platform/TextUtils.h"

namespace zel {

namespace {

bool IsContinuation(const std::string& line) noexcept { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// "name: value" broken at blanks inside the value into lines of at most `foldLength` where a blank
// allows it; every further line begins with the blank it was broken at.
std::vector<std::string> Fold(std::string line, size_t valueStart, int foldLength) {
    std::vector<std::string> lines;
    const size_t limit = foldLength > 0 ? static_cast<size_t>(foldLength) : std::string::npos;
    while (line.size() > limit) {
        size_t cut = line.find_last_of(" \t", limit);
        if (cut == std::string::npos || cut <= valueStart) break;
        valueStart = 0;
        lines.push_back(line.substr(0, cut));
        line.erase(0, cut);
    }
    lines.push_back(std::move(line));
    return lines;
}

}  // namespace

std::string TIdHeaderList::ValueAt(int index) const {
    std::string value = ValueFromIndex(index);
    for (int i = index + 1; i < Count() && IsContinuation(Strings(i)); ++i) value = Trim(value) + " " + Trim(Strings(i));
    return Trim(value);
}

void TIdHeaderList::DeleteContinuations(int index) {
    while (index + 1 < Count() && IsContinuation(Strings(index + 1))) Delete(index + 1);
}

std::string TIdHeaderList::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueAt(i);
}

void TIdHeaderList::SetValues(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) {
            DeleteContinuations(i);
            Delete(i);
        }
        return;
    }
    if (i < 0) {
        Add("");
        i = Count() - 1;
    }
    DeleteContinuations(i);
    Delete(i);
    std::string line;
    line.reserve(name.size() + 2 + value.size());
    line.append(name).append(": ").append(value);
    for (std::string& piece : Fold(std::move(line), name.size() + 1, FoldLength)) Insert(i++, std::move(piece));
}

void TIdHeaderList::Extract(std::string_view name, TStringList* target) const {
    if (!target) return;
    for (int i = 0; i < Count(); ++i)
        if (SameText(Name(i), name)) target->Add(ValueAt(i));
}

}  // namespace zel
