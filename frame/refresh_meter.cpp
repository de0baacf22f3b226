#include "frame/refresh_meter.h"

#include "app/globals.h"
#include "frame/clock.h"

#include <iostream>
#include <mutex>

void RefreshMeter::start(int64_t now)
{
    lastTime = now;
    frameCount = 0;
    intervalSum = 0.0;
    longestInterval = 0.0;
}

void RefreshMeter::addFrame(int64_t now, int32_t x, int32_t y)
{
    const double interval = nanosecondsToSeconds(now - lastTime);
    intervalSum += interval;
    if (interval > longestInterval)
        longestInterval = interval;
    if (++frameCount == REPORT_FRAMES) {
        std::lock_guard<std::mutex> lock(globalMutex);
        const double averageRate = 1.0 / (intervalSum / REPORT_FRAMES);
        const double minimumRate = 1.0 / longestInterval;
        std::cout << "window at " << x << "," << y << " refreshes at " << averageRate << "Hz (min. "
                  << minimumRate << "Hz)" << std::endl;
        intervalSum = 0.0;
        frameCount = 0;
        longestInterval = 0.0;
    }
    // The next interval starts at this frame's end even after a report, so no time goes
    // unmeasured; writing the report counts towards the next frame.
    lastTime = now;
}
