#include "frame/pattern_clock.h"

#include "frame/clock.h"

#include <cstring>

std::optional<PatternClock> patternClockNamed(const char* value)
{
    if (value == nullptr || *value == '\0' || std::strcmp(value, "monotonic") == 0)
        return PatternClock::Monotonic;
    if (std::strcmp(value, "system") == 0)
        return PatternClock::System;
    return std::nullopt;
}

std::string unknownClockMessage(const char* value)
{
    return std::string(PATTERN_CLOCK_VARIABLE) + " is \"" + value +
           "\": it must be \"system\" (the wall clock, for windows on several machines) or "
           "\"monotonic\" (the default).";
}

double patternSeconds(PatternClock clock)
{
    if (clock == PatternClock::System)
        return nanosecondsToSeconds(systemNanoseconds());
    return nanosecondsToSeconds(monotonicNanoseconds());
}
