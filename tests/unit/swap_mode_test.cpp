#include "window/swap_mode.h"

#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Stands in for a driver: each function is offered or not, and answers as configured, and every
// call is recorded with its arguments.
class FakeSwapExtensions : public SwapExtensions
{
public:
    std::optional<bool> joinAnswer, bindAnswer, intervalAnswer;
    std::vector<std::string> calls;

    std::optional<bool> joinSwapGroup(unsigned group) override
    {
        calls.push_back("join " + std::to_string(group));
        return joinAnswer;
    }
    std::optional<bool> bindSwapBarrier(unsigned group, unsigned barrier) override
    {
        calls.push_back("bind " + std::to_string(group) + " " + std::to_string(barrier));
        return bindAnswer;
    }
    std::optional<bool> setSwapInterval(int interval) override
    {
        calls.push_back("interval " + std::to_string(interval));
        return intervalAnswer;
    }
};

std::string apply(char mode, int32_t x, int32_t y, FakeSwapExtensions& extensions)
{
    StdoutCapture output;
    applySwapMode(mode, x, y, extensions);
    return output.text();
}

const std::optional<bool> MISSING = std::nullopt;
const std::optional<bool> ACCEPTS = true;
const std::optional<bool> REFUSES = false;

} // namespace

TEST(SwapModeFor, MapsTheFirstLetterCaseSensitively)
{
    EXPECT_EQ(swapModeFor('S').action, SwapAction::JoinSwapGroup);
    const std::vector<std::pair<char, int>> intervals = {
        {'V', 1}, {'T', -1}, {'N', 0}, {'v', 0}, {'t', 0}, {'s', 0}, {'\0', 0}, {'x', 0}, {'1', 0}};
    for (const auto& [letter, interval] : intervals) {
        EXPECT_EQ(swapModeFor(letter).action, SwapAction::SetSwapInterval) << letter;
        EXPECT_EQ(swapModeFor(letter).interval, interval) << letter;
    }
}

TEST(ApplySwapMode, IntervalModesSetTheirIntervalAndConfirmOnlyWhatWasAccepted)
{
    const std::vector<std::pair<char, std::string>> cases = {
        {'V', "1"}, {'T', "-1"}, {'N', "0"}, {'v', "0"}, {'\0', "0"}};
    for (const auto& [mode, interval] : cases) {
        FakeSwapExtensions accepting;
        accepting.intervalAnswer = ACCEPTS;
        EXPECT_EQ(apply(mode, -1920, 0, accepting),
                  "window at -1920,0 set swap interval " + interval + "\n");
        EXPECT_EQ(accepting.calls, std::vector<std::string>{"interval " + interval});

        for (const std::optional<bool>& answer : {REFUSES, MISSING}) {
            FakeSwapExtensions other;
            other.intervalAnswer = answer;
            EXPECT_EQ(apply(mode, 0, 0, other), "");
            EXPECT_EQ(other.calls, std::vector<std::string>{"interval " + interval});
        }
    }
}

TEST(ApplySwapMode, SwapGroupModeJoinsGroupOneAndBindsBarrierOneWhateverTheJoinGave)
{
    struct Case
    {
        std::optional<bool> join, bind;
        std::string lines;
    };
    const std::vector<Case> cases = {
        {ACCEPTS, ACCEPTS, "window at 10,-20 joined swap group\nbound swap barrier\n"},
        {REFUSES, ACCEPTS, "bound swap barrier\n"},
        {MISSING, ACCEPTS, "bound swap barrier\n"},
        {ACCEPTS, REFUSES, "window at 10,-20 joined swap group\n"},
        {ACCEPTS, MISSING, "window at 10,-20 joined swap group\n"},
        {MISSING, MISSING, ""},
    };
    for (const Case& c : cases) {
        FakeSwapExtensions extensions;
        extensions.joinAnswer = c.join;
        extensions.bindAnswer = c.bind;
        EXPECT_EQ(apply('S', 10, -20, extensions), c.lines);
        const std::vector<std::string> calls = {"join 1", "bind 1 1"};
        EXPECT_EQ(extensions.calls, calls) << "the interval is left as it is";
    }
}
