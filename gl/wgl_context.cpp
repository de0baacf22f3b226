#include "gl/wgl_context.h"

#include "gl/extension_list.h"

#include <cstdint>

namespace {

using JoinSwapGroupNVFunction = BOOL(WINAPI*)(HDC hdc, UINT group);
using BindSwapBarrierNVFunction = BOOL(WINAPI*)(UINT group, UINT barrier);
using SwapIntervalEXTFunction = BOOL(WINAPI*)(int interval);

// The named extension function of the current context, or nullptr when the driver lacks it.
template <class Function> Function lookupExtension(const char* name)
{
    PROC function = wglGetProcAddress(name);
    if (isMissingFunction(reinterpret_cast<intptr_t>(function)))
        return nullptr;
    // Through the generic function pointer type, which converts to any other without warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}

} // namespace

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

std::optional<bool> WglSwapExtensions::joinSwapGroup(unsigned group)
{
    const auto join = lookupExtension<JoinSwapGroupNVFunction>("wglJoinSwapGroupNV");
    if (!join)
        return std::nullopt;
    return join(hdc, group) != FALSE;
}

std::optional<bool> WglSwapExtensions::bindSwapBarrier(unsigned group, unsigned barrier)
{
    const auto bind = lookupExtension<BindSwapBarrierNVFunction>("wglBindSwapBarrierNV");
    if (!bind)
        return std::nullopt;
    return bind(group, barrier) != FALSE;
}

std::optional<bool> WglSwapExtensions::setSwapInterval(int interval)
{
    const auto setInterval = lookupExtension<SwapIntervalEXTFunction>("wglSwapIntervalEXT");
    if (!setInterval)
        return std::nullopt;
    return setInterval(interval) != FALSE;
}
