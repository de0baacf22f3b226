#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The clock the bars follow. The monotonic clock counts from each machine's boot, so it keeps
// only the windows of one machine in step; the system's wall clock is the same on every machine
// whose time service holds their clocks together, so it keeps the windows of a cluster in step.
enum class PatternClock
{
    Monotonic,
    System
};

// The environment variable that chooses the clock.
constexpr const char* PATTERN_CLOCK_VARIABLE = "VARNEL_CLOCK";
constexpr const char* CLOCK_CAPTION = "VARNEL_CLOCK";

// The clock a value of the variable names: unset or empty, and "monotonic", name the monotonic
// clock; "system" the wall clock; anything else none.
std::optional<PatternClock> patternClockNamed(const char* value);

// What the user is told for a value that names no clock.
std::string unknownClockMessage(const char* value);

// The system's wall clock in nanoseconds since 1970-01-01 00:00 UTC, at the finest resolution
// the system offers. It may be stepped or slewed by the time service.
int64_t systemNanoseconds();

// The clock's reading in seconds, for the pattern.
double patternSeconds(PatternClock clock);
