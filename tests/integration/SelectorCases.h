#pragma once
// The variable selector dialog's cases, run against the Qt dialog (selector_dialog_test.cpp) and
// the Win32 one (tests/windows): each view drives its own widgets, the rows are the same.
#include <string>
#include <vector>

#include "host/UZELTypes.h"

namespace zelhost::selector_cases {

// The host's variables every case offers, as Windows-1252 bytes.
inline const std::vector<std::string> kNames = {"Door", "Garden\xb0", "Gate"};

// filter typed (Windows-1252) | row picked in the filtered list (-1: none) | 'A'ccept, 'R'eject or
// 'D'ouble-click | result | the name answered | rows listed under the filter
struct TCase {
    std::string Filter;
    int Row;
    char How;
    zel::HRESULT Result;
    std::string Chosen;
    int Visible;
};
inline const TCase kCases[] = {
    {"ga", 1, 'A', zel::S_OK, "Gate", 2},
    {"", 1, 'D', zel::S_OK, "Garden\xb0", 3},
    {" NewName ", -1, 'A', zel::S_OK, "NewName", 0},  // not written yet: named by hand
    {"door", 0, 'R', zel::E_FAIL, "", 1},
    {"", -1, 'A', zel::E_FAIL, "", 3},  // nothing chosen, nothing typed
    {"N\xb0", 0, 'A', zel::S_OK, "Garden\xb0", 1},  // a byte above 127 typed and answered as it is
};

// The filter's rule on its own: name | filter | listed.
struct TMatch {
    std::string Name;
    std::string Filter;
    bool Listed;
};
inline const TMatch kMatches[] = {
    {"Door", "", true},
    {"", "", true},
    {"", "a", false},
    {"Garden", "RDE", true},
    {"Garden", "gardens", false},
    {"\xc4u\xdf" "en", "\xe4U\xdf", true},  // accented capitals fold to their small letters
    {"\x8a" "tadt", "\x9a", true},           // and so do those of the 80-9F block
    {"\x9fyes", "\xff", true},
    {"a\xd7" "b", "\xf7", false},  // the multiplication and division signs are no letters
    {"Stra\xdf" "e", "\xff", false},  // nor is the sharp s, though it sits among the capitals
    {"Temp\xb0", "\xb0", true},
    {"Tor", "tor ", false},  // blanks are part of the filter
};

}  // namespace zelhost::selector_cases
