#include "gl/glx_context.h"

namespace {

// Each window thread has its own connection, and errors are reported on the thread that reads
// them, so one slot per thread keeps every error with the window that caused it.
thread_local int firstXError = 0;

int recordXError(Display*, XErrorEvent* event)
{
    if (firstXError == 0)
        firstXError = event->error_code;
    return 0;
}

const char* screenExtensions(Display* display)
{
    return glXQueryExtensionsString(display, DefaultScreen(display));
}

// A broken connection is reported by the window it belonged to (see the I/O error exit handler
// each window sets), not here.
int ignoreIOError(Display*)
{
    return 0;
}

} // namespace

void installXErrorHandler()
{
    XSetErrorHandler(recordXError);
    XSetIOErrorHandler(ignoreIOError);
}

int takeXError(Display* display)
{
    XSync(display, False);
    const int error = firstXError;
    firstXError = 0;
    return error;
}

XVisualInfo* chooseVisual(Display* display)
{
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
    return glXChooseVisual(display, DefaultScreen(display), attributes);
}

std::string createCurrentContext(Display* display, XWindow window, XVisualInfo* visual,
                                 GLXContext* context)
{
    *context = glXCreateContext(display, visual, nullptr, True);
    if (!*context || takeXError(display))
        return "glXCreateContext failed";
    if (!glXMakeCurrent(display, window, *context) || takeXError(display))
        return "glXMakeCurrent failed";
    return {};
}

void destroyContext(Display* display, GLXContext context)
{
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
}

GlxCalls glxCalls()
{
    return {screenExtensions, glXGetProcAddressARB, glXQueryDrawable, takeXError};
}
