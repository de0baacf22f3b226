#include "gl/opengl_queries.h"

#include "gl/opengl.h"

DrawableSize largestDrawable()
{
    GLint dimensions[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dimensions);
    return {dimensions[0], dimensions[1]};
}
