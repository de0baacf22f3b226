#include "app/window_groups.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

std::vector<WindowGroup> parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "Varnel");
    return parseWindowGroups(static_cast<int>(arguments.size()), arguments.data());
}

std::vector<const char*> repeated(const char* argument, int count)
{
    return std::vector<const char*>(count, argument);
}

constexpr int32_t INT32_MAX_VALUE = std::numeric_limits<int32_t>::max();
constexpr int32_t INT32_MIN_VALUE = std::numeric_limits<int32_t>::min();

} // namespace

TEST(ParseWindowGroups, AcceptsOnlyWholeGroupsOfFive)
{
    for (int count : {0, 1, 4, 6, 9, 12, 14})
        EXPECT_TRUE(parse(repeated("1", count)).empty()) << count << " arguments";
    for (int count : {5, 10, 15, 50})
        EXPECT_EQ(parse(repeated("1", count)).size(), static_cast<size_t>(count / 5));
}

TEST(ParseWindowGroups, KeepsCommandLineOrderAndFieldOrder)
{
    const auto groups = parse({"1", "2", "3", "4", "S", "-1920", "0", "1920", "1200", "V"});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].x, 1);
    EXPECT_EQ(groups[0].y, 2);
    EXPECT_EQ(groups[0].width, 3);
    EXPECT_EQ(groups[0].height, 4);
    EXPECT_EQ(groups[0].mode, 'S');
    EXPECT_EQ(groups[1].x, -1920);
    EXPECT_EQ(groups[1].width, 1920);
    EXPECT_EQ(groups[1].height, 1200);
    EXPECT_EQ(groups[1].mode, 'V');
}

TEST(ParseWindowGroups, ModeIsTheFirstCharacterOnly)
{
    EXPECT_EQ(parse({"0", "0", "1", "1", "Sync"})[0].mode, 'S');
    EXPECT_EQ(parse({"0", "0", "1", "1", "vsync"})[0].mode, 'v');
    EXPECT_EQ(parse({"0", "0", "1", "1", ""})[0].mode, '\0');
}

TEST(ParseLeadingInt, ReadsTheLeadingNumberLikeAtoi)
{
    EXPECT_EQ(parseLeadingInt("1920"), 1920);
    EXPECT_EQ(parseLeadingInt("-1920"), -1920);
    EXPECT_EQ(parseLeadingInt("+7"), 7);
    EXPECT_EQ(parseLeadingInt(" \t\n\v\f\r42"), 42);
    EXPECT_EQ(parseLeadingInt("300px"), 300);
    EXPECT_EQ(parseLeadingInt("12 34"), 12);
    EXPECT_EQ(parseLeadingInt("007"), 7);
}

TEST(ParseLeadingInt, TextWithoutALeadingNumberIsZero)
{
    for (const char* text : {"", "wide", "-", "+", "+-5", "- 5", "x12",
                             "\xff"
                             "5"})
        EXPECT_EQ(parseLeadingInt(text), 0) << '"' << text << '"';
}

TEST(ParseLeadingInt, SaturatesAtTheThirtyTwoBitLimits)
{
    EXPECT_EQ(parseLeadingInt("2147483647"), INT32_MAX_VALUE);
    EXPECT_EQ(parseLeadingInt("2147483648"), INT32_MAX_VALUE);
    EXPECT_EQ(parseLeadingInt("-2147483648"), INT32_MIN_VALUE);
    EXPECT_EQ(parseLeadingInt("-2147483649"), INT32_MIN_VALUE);
    EXPECT_EQ(parseLeadingInt("99999999999999999999999999999999"), INT32_MAX_VALUE);
    EXPECT_EQ(parseLeadingInt("-99999999999999999999999999999999"), INT32_MIN_VALUE);
    EXPECT_EQ(parseLeadingInt("00000000000000000000000000000012"), 12);
}
