#pragma once

#include <cstdint>

// Time for the bars to sweep across the window and back.
constexpr double PATTERN_PERIOD = 10.0;

// Draws the sync test pattern over the current frame with the current GL context.
void drawTestPattern(double t, double period, int32_t width, int32_t height);
