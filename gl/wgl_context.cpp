#include "gl/wgl_context.h"

#include <cstdint>

const char* createCurrentContext(HDC hdc, HGLRC* hglrc)
{
    // No colour, depth or stencil sizes are asked for: the pattern needs nothing but a colour
    // buffer, and the driver's closest double-buffered window format is good for that.
    PIXELFORMATDESCRIPTOR descriptor = {};
    descriptor.nSize = sizeof(descriptor);
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;

    const int format = ChoosePixelFormat(hdc, &descriptor);
    if (format == 0)
        return "ChoosePixelFormat";
    if (!SetPixelFormat(hdc, format, &descriptor))
        return "SetPixelFormat";
    *hglrc = wglCreateContext(hdc);
    if (!*hglrc)
        return "wglCreateContext";
    if (!wglMakeCurrent(hdc, *hglrc))
        return "wglMakeCurrent";
    return nullptr;
}

void destroyContext(HGLRC hglrc)
{
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(hglrc);
}

PROC lookupExtension(const char* name)
{
    PROC function = wglGetProcAddress(name);
    // Some drivers answer a missing name with a small sentinel instead of null.
    const auto value = reinterpret_cast<intptr_t>(function);
    if (value >= -1 && value <= 3)
        return nullptr;
    return function;
}
