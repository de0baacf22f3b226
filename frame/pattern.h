#pragma once

#include <array>
#include <cstdint>

// Time for the bars to sweep across the window and back.
constexpr double PATTERN_PERIOD = 10.0;

// A rectangle in GL window coordinates: origin at the bottom-left corner, y growing upwards.
struct PatternRect
{
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// The vertical bar, the horizontal bar, then the left, right, bottom and top edges of the frame.
using PatternRects = std::array<PatternRect, 6>;

// Where the bars are in their sweep at time t: 1 at the far edges (right and top) at the start of
// each period, falling linearly to 0 at the near edges half a period later, and back.
double sweepPosition(double t, double period);

// The green rectangles of the test pattern at time t, for a window of the given size. All windows
// that use the same clock get the same sweep position at the same moment.
PatternRects patternRects(double t, double period, int32_t width, int32_t height);

// Draws the pattern over the current frame with the current GL context, by scissored clears
// alone. Leaves the scissor test off and the clear colour green.
void drawTestPattern(double t, double period, int32_t width, int32_t height);

// Clears the back buffer to the black field the pattern is drawn on.
void clearToBlack();
