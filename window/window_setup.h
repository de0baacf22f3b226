#pragma once

// The parts of a window's set-up that need no platform.

#include "gl/opengl_queries.h"

#include <cstdint>
#include <string>

// Empty when a window of this size can be drawn by a context whose largest drawable is
// `largest`; otherwise the reason it cannot, for the window's set-up failure line. Drivers
// crash or stall the whole process on larger windows, so such a window must not start.
std::string drawableSizeProblem(int32_t width, int32_t height, DrawableSize largest);

// Writes the line that says why the window at x, y could not be set up. The caller holds
// globalMutex, as for every line of a window thread.
void reportSetupFailure(int32_t x, int32_t y, const std::string& problem);
