#include "frame/refresh_meter.h"

#include "app/globals.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr int64_t SECOND = 1000000000;

// Feeds the meter frames ending at the given times after a start at 0 and returns its output.
std::string measure(const std::vector<int64_t>& frameEnds, int32_t x = 0, int32_t y = 0)
{
    StdoutCapture output;
    RefreshMeter meter;
    meter.start(0);
    for (int64_t end : frameEnds)
        meter.addFrame(end, x, y);
    return output.text();
}

// Frame end times for frames of the given lengths, back to back from 0.
std::vector<int64_t> framesOf(const std::vector<int64_t>& lengths)
{
    std::vector<int64_t> ends;
    int64_t now = 0;
    for (int64_t length : lengths)
        ends.push_back(now += length);
    return ends;
}

std::vector<int64_t> repeat(int64_t length, int count)
{
    return std::vector<int64_t>(count, length);
}

size_t countLines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(RefreshMeter, ReportsAverageAndMinimumRateAfterAHundredFrames)
{
    // Frame ends at whole nanoseconds closest to k/60 s: the rates still round to 60.
    std::vector<int64_t> ends;
    for (int k = 1; k <= 100; ++k)
        ends.push_back((k * SECOND + 30) / 60);
    EXPECT_EQ(measure(ends, 1920, -1200), "window at 1920,-1200 refreshes at 60Hz (min. 60Hz)\n");
}

TEST(RefreshMeter, OneSlowFrameSetsTheMinimum)
{
    std::vector<int64_t> lengths = repeat(SECOND / 60, 99);
    lengths.insert(lengths.begin() + 40, SECOND / 30);
    EXPECT_EQ(measure(framesOf(lengths)), "window at 0,0 refreshes at 59.4059Hz (min. 30Hz)\n");
}

TEST(RefreshMeter, ReportsEveryHundredFramesAndNeverForAPartialBatch)
{
    const int64_t length = SECOND / 100;
    EXPECT_EQ(measure(framesOf(repeat(length, 99))), "");
    EXPECT_EQ(countLines(measure(framesOf(repeat(length, 100)))), 1u);
    EXPECT_EQ(countLines(measure(framesOf(repeat(length, 250)))), 2u);
    EXPECT_EQ(countLines(measure(framesOf(repeat(length, 300)))), 3u);
}

TEST(RefreshMeter, EachReportCoversOnlyItsOwnFramesWithNoTimeLostBetween)
{
    // 100 frames of 10 ms, then 100 of 5 ms with one of 20 ms: the second report must not carry
    // the first batch's figures, and its first interval starts at the 100th frame's end.
    // 100 frames in 515 ms: 194.175 Hz; measuring from the frame before would give 190.476.
    std::vector<int64_t> lengths = repeat(SECOND / 100, 100);
    const std::vector<int64_t> second = repeat(SECOND / 200, 99);
    lengths.push_back(SECOND / 50);
    lengths.insert(lengths.end(), second.begin(), second.end());
    EXPECT_EQ(measure(framesOf(lengths)), "window at 0,0 refreshes at 100Hz (min. 100Hz)\n"
                                          "window at 0,0 refreshes at 194.175Hz (min. 50Hz)\n");
}

TEST(RefreshMeter, EachReportHasTheLongestFrameOfItsOwnBatch)
{
    // One 50 ms frame in the first batch, none in the second: the second minimum is 100 Hz.
    std::vector<int64_t> lengths = repeat(SECOND / 100, 200);
    lengths[50] = SECOND / 20;
    const std::string output = measure(framesOf(lengths));
    EXPECT_EQ(output.substr(output.find('\n') + 1),
              "window at 0,0 refreshes at 100Hz (min. 100Hz)\n");
}

TEST(RefreshMeter, RatesOfAMillionOrMoreAreWrittenInScientificNotation)
{
    EXPECT_EQ(measure(framesOf(repeat(1000, 100))),
              "window at 0,0 refreshes at 1e+06Hz (min. 1e+06Hz)\n");
    EXPECT_EQ(measure(framesOf(repeat(400, 100))),
              "window at 0,0 refreshes at 2.5e+06Hz (min. 2.5e+06Hz)\n");
}

TEST(RefreshMeter, OnlyTheReportWaitsForTheSharedMutex)
{
    StdoutCapture output;
    RefreshMeter meter;
    meter.start(0);
    std::unique_lock<std::mutex> otherThread(globalMutex);

    auto ordinaryFrames = std::async(std::launch::async, [&] {
        for (int k = 1; k < REPORT_FRAMES; ++k)
            meter.addFrame(k * SECOND / 100, 0, 0);
    });
    ASSERT_EQ(ordinaryFrames.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "a frame without a report took the mutex";

    auto reportFrame =
        std::async(std::launch::async, [&] { meter.addFrame(REPORT_FRAMES * SECOND / 100, 0, 0); });
    EXPECT_EQ(reportFrame.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(output.text(), "");
    otherThread.unlock();
    reportFrame.get();
    EXPECT_EQ(output.text(), "window at 0,0 refreshes at 100Hz (min. 100Hz)\n");
}
