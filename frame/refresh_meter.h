#pragma once

#include <cstdint>

// Frames per report line.
constexpr int32_t REPORT_FRAMES = 100;

// Measures the time from the end of one frame to the end of the next and, every REPORT_FRAMES
// frames, writes the window's average refresh rate and the rate of its longest frame. It reads
// no clock itself: the frame loop hands it its readings, in nanoseconds.
class RefreshMeter
{
public:
    void start(int64_t now);
    void addFrame(int64_t now, int32_t x, int32_t y);

private:
    int64_t lastTime = 0;
    int32_t frameCount = 0;
    double intervalSum = 0.0;
    double longestInterval = 0.0;
};
