#include "frame/pattern.h"

#include <cmath>
#include <limits>

namespace {

constexpr int32_t BAR_THICKNESS = 10;
constexpr int32_t EDGE_THICKNESS = 2;
// The bar's offset runs over size - 9, so at the far end its last pixel lies just outside.
constexpr int32_t BAR_TRAVEL_MARGIN = BAR_THICKNESS - 1;

int32_t clampToInt32(double value)
{
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// size - amount without overflow for the sizes the command line can give (down to INT32_MIN).
int32_t shrunk(int32_t size, int32_t amount)
{
    return clampToInt32(static_cast<double>(size) - amount);
}

int32_t barOffset(int32_t size, double position)
{
    return clampToInt32(
        std::trunc(static_cast<double>(shrunk(size, BAR_TRAVEL_MARGIN)) * position));
}

} // namespace

double sweepPosition(double t, double period)
{
    // fmod is exact, so at wall-clock times (t near 2e9 s) the phase keeps what t holds, a
    // fraction of a microsecond, where t / period would lose more in its rounding.
    const double phase = std::fmod(t, period) / period;
    return std::fabs(2.0 * phase - 1.0);
}

PatternRects patternRects(double t, double period, int32_t width, int32_t height)
{
    const double position = sweepPosition(t, period);
    return {{
        {barOffset(width, position), 0, BAR_THICKNESS, height},
        {0, barOffset(height, position), width, BAR_THICKNESS},
        {0, 0, EDGE_THICKNESS, height},
        {shrunk(width, EDGE_THICKNESS), 0, EDGE_THICKNESS, height},
        {0, 0, width, EDGE_THICKNESS},
        {0, shrunk(height, EDGE_THICKNESS), width, EDGE_THICKNESS},
    }};
}
