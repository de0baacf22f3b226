#include "frame/pattern.h"

#include "gl/opengl.h"

void drawTestPattern(double t, double period, int32_t width, int32_t height)
{
    // Scissored clears touch nothing but the colour buffer and need no geometry, so the pattern
    // costs next to nothing and cannot be slowed by any other GL state.
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 1.0f, 0.0f, 0.0f);
    for (const PatternRect& rect : patternRects(t, period, width, height)) {
        glScissor(rect.x, rect.y, rect.width, rect.height);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
}

void clearToBlack()
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}
