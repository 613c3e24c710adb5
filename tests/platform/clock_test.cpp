#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
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

TEST(Clock, NowIsLocalTimeInDaysSince1899) {
    std::time_t secs = std::time(nullptr);
    std::tm local{};
    localtime_r(&secs, &local);
    double expected = 25569.0 + static_cast<double>(secs + local.tm_gmtoff) / 86400.0;
    EXPECT_NEAR(Now(), expected, 2.0 / 86400.0);
}

TEST(Clock, TickCountAdvancesInMilliseconds) {
    uint32_t start = TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint32_t elapsed = TickCount() - start;  // unsigned difference: safe across the wrap
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 2000u);
}
