#pragma once

#include "gl/opengl_queries.h"

#include <cstdint>
#include <string>

// Empty when a window of this size can be drawn by a context whose largest drawable is
// `largest`; otherwise the reason it cannot, for the window's set-up failure line. Drivers
// crash or stall the whole process on larger windows, so such a window must not start.
std::string drawableSizeProblem(int32_t width, int32_t height, DrawableSize largest);
