#pragma once

#include "gl/glx_headers.h"
#include "gl/swap_extensions.h"

#include <string>

// Lets X errors be recorded instead of ending the process, as Xlib's default handler does.
// Installed once, before any window thread starts.
void installXErrorHandler();

// Waits until the server has handled every request so far, and returns the code of the first X
// error they caused on this thread's connection since the last call, or 0.
int takeXError(Display* display);

// A double-buffered RGBA visual of the display's default screen, or nullptr. Free with XFree.
XVisualInfo* chooseVisual(Display* display);

// Creates a context for the visual and makes it current on the window for the calling thread.
// Returns an empty string on success, or which call failed.
std::string createCurrentContext(Display* display, XWindow window, XVisualInfo* visual,
                                 GLXContext* context);

// Leaves the calling thread without a current context and destroys the context.
void destroyContext(Display* display, GLXContext context);

// GLX_NV_swap_group and GLX_EXT_swap_control(_tear) or GLX_MESA_swap_control, used only when
// the display's GLX extension string offers them: Mesa hands out function pointers for what it
// does not support. glXSwapIntervalEXT returns nothing, so the interval is read back.
class GlxSwapExtensions : public SwapExtensions
{
public:
    GlxSwapExtensions(Display* display, XWindow window);

    std::optional<bool> joinSwapGroup(unsigned group) override;
    std::optional<bool> bindSwapBarrier(unsigned group, unsigned barrier) override;
    std::optional<bool> setSwapInterval(int interval) override;

private:
    bool offers(const char* extension) const;
    bool setIntervalEXT(int interval);
    bool setIntervalMESA(int interval);

    Display* display;
    XWindow window;
    const char* extensions;
};
