#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "platform/Clock.h"

using namespace zel;

TEST(Clock, SecondsBetweenIsAbsoluteTruncatedAndFreeOfFloatNoise) {
    constexpr double kSecond = 1.0 / 86400.0;
    const double base = 46000.5;  // a date in this century, where one second is near the float's resolution
    struct Case {
        double a, b;
        int64_t seconds;
    } cases[] = {
        {base, base, 0},
        {base, base + 0.999 * kSecond, 0},
        {base, base + 60 * kSecond, 60},
        {base + 60 * kSecond, base, 60},  // order does not matter
        {base, base + 59.999 * kSecond, 59},
        {base, base + 86400 * kSecond, 86400},
        {0.0, 1e300, INT64_MAX},  // no overflow on absurd inputs
    };
    for (const Case& c : cases) EXPECT_EQ(SecondsBetween(c.a, c.b), c.seconds) << c.a << " " << c.b;
    // Summing whole seconds in floating point drifts below the true value; rounding to milliseconds first
    // keeps every step exact.
    double t = base;
    for (int i = 1; i <= 600; ++i) {
        t += kSecond;
        ASSERT_EQ(SecondsBetween(base, t), i);
    }
}

#ifdef _WIN32

TEST(Clock, NowIsLocalTimeInDaysSince1899) {
    // The C runtime's local time, reached by another path than the system's local time fields.
    const std::time_t t = std::time(nullptr);
    const std::tm local = *std::localtime(&t);
    using namespace std::chrono;
    const sys_days day{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday};
    const double expected = 25569.0 + static_cast<double>(day.time_since_epoch().count()) +
                            (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
    EXPECT_NEAR(Now(), expected, 2.0 / 86400.0);
    // Run again in a zone of its own (tests/platform/CMakeLists.txt): there a clock that forgets
    // the local offset must fail, so the zone has to differ from UTC.
    if (std::getenv("ZELTEST_EXPECT_OFFSET")) {
        EXPECT_NE(local.tm_min, std::gmtime(&t)->tm_min);
    }
}

// The system tick count advances in steps of up to 17 ms (under wine as well).
constexpr uint32_t kTickStepMs = 17;

#else

namespace {

// Puts the process in the time zone `tz` for a scope, then back in the one it had.
class TTimeZoneScope {
public:
    explicit TTimeZoneScope(const char* tz) {
        if (const char* old = std::getenv("TZ")) FOld = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TTimeZoneScope() {
        if (FOld)
            setenv("TZ", FOld->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TTimeZoneScope(const TTimeZoneScope&) = delete;
    TTimeZoneScope& operator=(const TTimeZoneScope&) = delete;

private:
    std::optional<std::string> FOld;
};

}  // namespace

TEST(Clock, NowIsLocalTimeInDaysSince1899) {
    // CI runs in UTC, where a clock without the local offset would pass. POSIX zone strings need no
    // zone data; offsets of both signs, one with a half hour, catch a dropped or inverted offset.
    const struct { const char* tz; int64_t offsetSeconds; } zones[] = {{"XST-5:30", 19800}, {"YST+3", -10800}};
    for (const auto& zone : zones) {
        TTimeZoneScope scope(zone.tz);
        const double expected = 25569.0 + static_cast<double>(std::time(nullptr) + zone.offsetSeconds) / 86400.0;
        EXPECT_NEAR(Now(), expected, 2.0 / 86400.0) << zone.tz;
    }
}

constexpr uint32_t kTickStepMs = 0;

#endif

TEST(Clock, TickCountAdvancesInMilliseconds) {
    uint32_t start = TickCount();
    // Long enough beside the tick step that a count in other units cannot pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uint32_t elapsed = TickCount() - start;  // unsigned difference: safe across the wrap
    EXPECT_GE(elapsed, 100u - kTickStepMs);
    EXPECT_LT(elapsed, 2000u);
}
