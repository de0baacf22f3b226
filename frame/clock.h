#pragma once

#include <chrono>
#include <cstdint>

// Reading of the monotonic clock that every window thread shares, in nanoseconds.
inline int64_t monotonicNanoseconds()
{
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

inline double nanosecondsToSeconds(int64_t nanoseconds)
{
    return static_cast<double>(nanoseconds) / 1e9;
}
