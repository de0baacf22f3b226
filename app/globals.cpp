#include "app/globals.h"

#include <chrono>
#include <thread>

std::atomic<bool> startFlag{false};
std::mutex globalMutex;
PatternClock patternClock = PatternClock::Monotonic;

void waitForStart()
{
    while (!startFlag.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
