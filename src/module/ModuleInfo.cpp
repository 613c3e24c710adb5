// The static record alone, free of everything else, so that it also compiles for the 32-bit layout
// check.
#include "module/ModuleInfo.h"

#include <bit>

namespace zel {

namespace {

constexpr auto kAuthor = MakeConstString("IO.ALL3000 developers");
constexpr auto kName = MakeConstString("ALL3000");
// Windows-1252: the u-umlaut is the single byte 0xFC.
constexpr auto kDescription = MakeConstString("Steuerung \xFC" "ber das ALL3000");

}  // namespace

constinit const TZELModuleInfo ModuleInfoRecord = {
    GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}"),
    GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}"),
    3,
    {},
    kAuthor.Chars,
    nullptr,  // no homepage: the empty host string
    kName.Chars,
    kDescription.Chars,
    3,
    7,
    std::bit_cast<double>(0x40E2C24A174D1C6EULL),  // 2005-03-07 07:34:05
    346,
    &ModuleRegister,
    &ModuleUnregister,
    &ModuleCreateInstance,
};

}  // namespace zel
