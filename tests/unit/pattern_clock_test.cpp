#include "frame/pattern.h"
#include "frame/pattern_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

TEST(PatternClock, OnlyMonotonicAndSystemNameAClock)
{
    const std::pair<const char*, std::optional<PatternClock>> cases[] = {
        {nullptr, PatternClock::Monotonic},
        {"", PatternClock::Monotonic},
        {"monotonic", PatternClock::Monotonic},
        {"system", PatternClock::System},
        {"System", std::nullopt},
        {"realtime", std::nullopt},
        {"system ", std::nullopt},
        {"1", std::nullopt}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(patternClockNamed(value), expected) << (value ? value : "(unset)");
}

TEST(PatternClock, TheRefusalNamesTheVariableTheValueAndTheChoices)
{
    EXPECT_EQ(unknownClockMessage("wall"),
              "VARNEL_CLOCK is \"wall\": it must be \"system\" (the wall clock, for windows on "
              "several machines) or \"monotonic\" (the default).");
}

TEST(PatternClock, TheSystemClockCountsFrom1970)
{
    const auto standard = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    EXPECT_NEAR(static_cast<double>(systemNanoseconds()), static_cast<double>(standard), 1e9);
    EXPECT_NEAR(patternSeconds(PatternClock::System), standard / 1e9, 1.0);
}

// Wall-clock times lie near 1.8e9 s, where a double holds a quarter of a microsecond. The sweep
// position must lose no more than that to its arithmetic: 1 us is 2e-7 of the sweep's range.
TEST(SweepPosition, AtWallClockTimesItIsExactToAMicrosecond)
{
    constexpr int64_t periodNs = 10'000'000'000;
    constexpr double microsecondOfSweep = 2.0 / (PATTERN_PERIOD * 1e6);
    for (int64_t ns = 1'800'000'000'000'000'000; ns < 1'800'000'010'000'000'000;
         ns += 123'456'789'013) {
        const double exactPhase = static_cast<double>(ns % periodNs) / periodNs;
        const double expected = std::fabs(2.0 * exactPhase - 1.0);
        EXPECT_NEAR(sweepPosition(ns / 1e9, PATTERN_PERIOD), expected, microsecondOfSweep) << ns;
    }
}
