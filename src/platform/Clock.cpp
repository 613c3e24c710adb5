#include "platform/Clock.h"

#include <chrono>
#include <cmath>

// The tick count and the local time are the operating system's: ClockPosix.cpp, ClockWin32.cpp.
namespace zel {

namespace {
constexpr double kMsPerDay = 86400000.0;
}  // namespace

int64_t MonotonicMs() noexcept {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t SecondsBetween(TDateTime a, TDateTime b) noexcept {
    double da = std::round(a * kMsPerDay);
    double db = std::round(b * kMsPerDay);
    double diff = std::fabs(da - db) / 1000.0;
    if (!(diff < 9.2e18)) return INT64_MAX;  // also for NaN
    return static_cast<int64_t>(diff);
}

}  // namespace zel
