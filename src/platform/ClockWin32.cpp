#include "platform/Clock.h"

#include <windows.h>

namespace zel {

namespace {
constexpr double kFileTimeEpochDays = 109205.0;  // 1601-01-01 counted back from 1899-12-30
constexpr double kFileTimeUnitsPerDay = 864000000000.0;  // 100-nanosecond units
}  // namespace

uint32_t TickCount() noexcept { return ::GetTickCount(); }

TDateTime Now() noexcept {
    // The local date and time as the system shows them, converted field by field: SystemTimeToFileTime
    // applies no zone, so the count is of local 100-nanosecond units since 1601-01-01.
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    FILETIME units{};
    ::SystemTimeToFileTime(&local, &units);
    const uint64_t count = (uint64_t{units.dwHighDateTime} << 32) | units.dwLowDateTime;
    return static_cast<double>(count) / kFileTimeUnitsPerDay - kFileTimeEpochDays;
}

}  // namespace zel
