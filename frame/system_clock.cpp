#include "frame/pattern_clock.h"

#include <chrono>

// The standard library's system clock: CLOCK_REALTIME where it is a POSIX system.
int64_t systemNanoseconds()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}
