#pragma once

#include <cstdint>

struct DrawableSize
{
    int32_t width;
    int32_t height;
};

// The largest drawable the current context renders to in full (GL_MAX_VIEWPORT_DIMS).
DrawableSize largestDrawable();
