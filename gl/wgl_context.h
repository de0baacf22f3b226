#pragma once

#include <windows.h>

#include "gl/swap_extensions.h"

// Gives the window's device context a double-buffered RGBA OpenGL pixel format, creates a context
// on it and makes that context current on the calling thread. Returns nullptr on success, or the
// name of the call that failed, with that call's GetLastError value still in place.
const char* createCurrentContext(HDC hdc, HGLRC* hglrc);

// Leaves the calling thread without a current context and deletes hglrc.
void destroyContext(HGLRC hglrc);

// WGL_NV_swap_group and WGL_EXT_swap_control(_tear), looked up on the current context at the
// moment of each call.
class WglSwapExtensions : public SwapExtensions
{
public:
    explicit WglSwapExtensions(HDC hdc) : hdc(hdc) {}

    std::optional<bool> joinSwapGroup(unsigned group) override;
    std::optional<bool> bindSwapBarrier(unsigned group, unsigned barrier) override;
    std::optional<bool> setSwapInterval(int interval) override;

private:
    HDC hdc;
};
