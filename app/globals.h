#pragma once

#include "frame/pattern_clock.h"

#include <atomic>
#include <mutex>

// Released once by the launcher; every window thread waits for it before showing its window, so
// all windows start drawing at the same moment.
extern std::atomic<bool> startFlag;

// Returns once startFlag is set, looking every millisecond.
void waitForStart();

// Serialises the window set-ups and every line a window thread writes, so that set-ups never
// overlap and no two lines interleave on the console.
extern std::mutex globalMutex;

// The clock the bars follow, chosen once before the first window is made.
extern PatternClock patternClock;
