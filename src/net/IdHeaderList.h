#pragma once
// Header lines "name: value" in order. A line's name is the text before its first ":" exactly as
// written (so "Content-Length :" is not "Content-Length"); names match without regard to case. A
// line that begins with a space or a tab continues the line before it.
#include <string>
#include <string_view>

#include "platform/StringList.h"

namespace zel {

class TIdHeaderList : public TStringList {
public:
    explicit TIdHeaderList(int foldLength = 78) : TStringList(':'), FoldLength(foldLength) {}

    // The value of the first line of that name, its continuation lines joined with one space,
    // trimmed; "" when there is none.
    std::string Values(std::string_view name) const;
    // A non-empty value replaces the first line of that name and its continuation lines (or is
    // appended) as "name: value", folded at blanks when longer than FoldLength; an empty value
    // removes that line with its continuation lines.
    void SetValues(std::string_view name, std::string_view value);
    // Appends the value of every line of that name, in order, to `target` (nothing when null).
    void Extract(std::string_view name, TStringList* target) const;

    int FoldLength;

private:
    std::string ValueAt(int index) const;
    void DeleteContinuations(int index);
};

}  // namespace zel
