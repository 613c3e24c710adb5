#pragma once
// Time as the module sees it: a wrapping 32-bit millisecond tick counter, and local date-times as
// 64-bit floats counting days since 1899-12-30.
#include <cstdint>

namespace zel {

using TDateTime = double;

// Milliseconds since an arbitrary start; wraps after about 49.7 days.
uint32_t TickCount() noexcept;
// Milliseconds of a clock that never wraps and never jumps with the wall clock: for deadlines and
// schedules.
int64_t MonotonicMs() noexcept;
// The current local date-time.
TDateTime Now() noexcept;
// Whole seconds between two date-times (absolute difference, truncated). Both are first rounded to
// whole milliseconds so that float noise cannot lose a second.
int64_t SecondsBetween(TDateTime a, TDateTime b) noexcept;

}  // namespace zel
