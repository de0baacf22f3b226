#pragma once

#include "gl/glx_headers.h"
#include "gl/glx_swap_extensions.h"

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

// The real GLX calls the swap set-up makes.
GlxCalls glxCalls();
