#include <windows.h>

#include "frame/pattern_clock.h"

namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01 UTC.
constexpr int64_t TICKS_FROM_1601_TO_1970 = 116444736000000000LL;
constexpr int64_t NANOSECONDS_PER_TICK = 100;

} // namespace

// The precise reading, not GetSystemTimeAsFileTime's, which moves only at each timer tick (up to
// 15.6 ms): a pattern drawn by it would jump by a frame.
int64_t systemNanoseconds()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - TICKS_FROM_1601_TO_1970) * NANOSECONDS_PER_TICK;
}
