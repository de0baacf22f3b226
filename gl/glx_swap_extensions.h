#pragma once

#include "gl/glx_headers.h"
#include "gl/swap_extensions.h"

// What the swap set-up needs of GLX, as plain function pointers: the real calls (see glxCalls),
// or stand-ins that offer what a virtual display does not.
struct GlxCalls
{
    const char* (*extensions)(Display* display);
    __GLXextFuncPtr (*lookup)(const GLubyte* name);
    void (*queryDrawable)(Display* display, GLXDrawable drawable, int attribute,
                          unsigned int* value);
    int (*takeError)(Display* display);
};

// GLX_NV_swap_group and GLX_EXT_swap_control(_tear) or GLX_MESA_swap_control, used only when
// the display's GLX extension string offers them: Mesa hands out function pointers for what it
// does not support. glXSwapIntervalEXT returns nothing, so the interval is read back.
class GlxSwapExtensions : public SwapExtensions
{
public:
    GlxSwapExtensions(Display* display, XWindow window, const GlxCalls& calls);

    std::optional<bool> joinSwapGroup(unsigned group) override;
    std::optional<bool> bindSwapBarrier(unsigned group, unsigned barrier) override;
    std::optional<bool> setSwapInterval(int interval) override;

private:
    bool offers(const char* extension) const;
    template <class Function> Function lookup(const char* name) const;
    bool setIntervalEXT(int interval);
    bool setIntervalMESA(int interval);

    Display* display;
    XWindow window;
    GlxCalls calls;
    const char* extensionList;
};
