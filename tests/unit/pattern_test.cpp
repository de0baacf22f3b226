#include "frame/pattern.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <vector>

namespace {

using Tuple = std::tuple<int32_t, int32_t, int32_t, int32_t>;

std::vector<Tuple> asTuples(const PatternRects& rects)
{
    std::vector<Tuple> tuples;
    for (const PatternRect& rect : rects)
        tuples.emplace_back(rect.x, rect.y, rect.width, rect.height);
    return tuples;
}

// The two bar offsets at time t.
std::pair<int32_t, int32_t> bars(double t, int32_t width, int32_t height)
{
    const PatternRects rects = patternRects(t, PATTERN_PERIOD, width, height);
    return {rects[0].x, rects[1].y};
}

} // namespace

TEST(SweepPosition, FallsFromOneToZeroAndBackOncePerPeriod)
{
    EXPECT_DOUBLE_EQ(sweepPosition(0.0, 10.0), 1.0);
    EXPECT_DOUBLE_EQ(sweepPosition(2.5, 10.0), 0.5);
    EXPECT_DOUBLE_EQ(sweepPosition(5.0, 10.0), 0.0);
    EXPECT_DOUBLE_EQ(sweepPosition(7.5, 10.0), 0.5);
    EXPECT_NEAR(sweepPosition(9.999, 10.0), 1.0, 1e-3);
    // Clock readings are seconds since an arbitrary origin, often days: whole periods still
    // land on 1 and half periods on 0.
    EXPECT_DOUBLE_EQ(sweepPosition(864000.0, 10.0), 1.0);
    EXPECT_DOUBLE_EQ(sweepPosition(864005.0, 10.0), 0.0);
}

TEST(PatternRects, AtTheStartOfAPeriodTheBarsAreAtTheRightAndTop)
{
    const std::vector<Tuple> expected = {{91, 0, 10, 50}, {0, 41, 100, 10}, {0, 0, 2, 50},
                                         {98, 0, 2, 50},  {0, 0, 100, 2},   {0, 48, 100, 2}};
    for (double t : {0.0, 10.0, 20.0, 1e5})
        EXPECT_EQ(asTuples(patternRects(t, PATTERN_PERIOD, 100, 50)), expected) << t;
}

TEST(PatternRects, HalfwayTheBarsOverlapTheLeftAndBottomEdges)
{
    EXPECT_EQ(bars(5.0, 100, 50), std::make_pair(0, 0));
    EXPECT_EQ(bars(15.0, 100, 50), std::make_pair(0, 0));
}

TEST(PatternRects, OffsetsAreTruncatedTowardsZero)
{
    // f = 0.5: 91 * 0.5 = 45.5 and 41 * 0.5 = 20.5.
    EXPECT_EQ(bars(2.5, 100, 50), std::make_pair(45, 20));
    EXPECT_EQ(bars(7.5, 100, 50), std::make_pair(45, 20));
    // f = 0.3 in a window 5 pixels wide: (5 - 9) * 0.3 = -1.2 becomes -1, not -2.
    EXPECT_EQ(bars(3.5, 5, 5).first, -1);
    // f = 1: the whole negative travel.
    EXPECT_EQ(bars(0.0, 5, 5).first, -4);
}

TEST(PatternRects, WindowsOfDifferentSizesAreAtTheSamePointOfTheSweep)
{
    // The offsets worked by hand from the sweep |2 (t / 10 - floor(t / 10)) - 1|, truncated:
    // the time, then the bars of a 100x50 and of a 1920x1200 window.
    struct Case
    {
        double t;
        std::pair<int32_t, int32_t> small;
        std::pair<int32_t, int32_t> large;
    };
    const Case cases[] = {
        {1.0, {72, 32}, {1528, 952}},  // f = 0.8
        {3.3, {30, 13}, {649, 404}},   // f = 0.34
        {6.0, {18, 8}, {382, 238}},    // f = 0.2
        {8.75, {68, 30}, {1433, 893}}, // f = 0.75
        {23.3, {30, 13}, {649, 404}},  // two periods on: f = 0.34 again
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bars(c.t, 100, 50), c.small) << c.t;
        EXPECT_EQ(bars(c.t, 1920, 1200), c.large) << c.t;
    }
}

TEST(PatternRects, ExtremeSizesDoNotOverflow)
{
    constexpr int32_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int32_t highest = std::numeric_limits<int32_t>::max();
    const PatternRects negative = patternRects(0.0, PATTERN_PERIOD, lowest, lowest);
    EXPECT_EQ(negative[0].x, lowest);
    EXPECT_EQ(negative[3].x, lowest);
    EXPECT_EQ(negative[5].y, lowest);
    const PatternRects huge = patternRects(0.0, PATTERN_PERIOD, highest, highest);
    EXPECT_EQ(huge[0].x, highest - 9);
    EXPECT_EQ(huge[3].x, highest - 2);
}
