#include "gl/glx_context.h"

#include "gl/extension_list.h"

namespace {

using JoinSwapGroupNVFunction = Bool (*)(Display*, GLXDrawable, GLuint group);
using BindSwapBarrierNVFunction = Bool (*)(Display*, GLuint group, GLuint barrier);
using SwapIntervalEXTFunction = void (*)(Display*, GLXDrawable, int interval);
using SwapIntervalMESAFunction = int (*)(unsigned interval);
using GetSwapIntervalMESAFunction = int (*)();

// Each window thread has its own connection, and errors are reported on the thread that reads
// them, so one slot per thread keeps every error with the window that caused it.
thread_local int firstXError = 0;

int recordXError(Display*, XErrorEvent* event)
{
    if (firstXError == 0)
        firstXError = event->error_code;
    return 0;
}

template <class Function> Function lookupFunction(const char* name)
{
    return reinterpret_cast<Function>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
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

GlxSwapExtensions::GlxSwapExtensions(Display* display, XWindow window)
    : display(display), window(window),
      extensions(glXQueryExtensionsString(display, DefaultScreen(display)))
{
}

bool GlxSwapExtensions::offers(const char* extension) const
{
    return hasExtension(extensions, extension);
}

std::optional<bool> GlxSwapExtensions::joinSwapGroup(unsigned group)
{
    if (!offers("GLX_NV_swap_group"))
        return std::nullopt;
    const auto join = lookupFunction<JoinSwapGroupNVFunction>("glXJoinSwapGroupNV");
    const bool joined = join(display, window, group);
    return takeXError(display) == 0 && joined;
}

std::optional<bool> GlxSwapExtensions::bindSwapBarrier(unsigned group, unsigned barrier)
{
    if (!offers("GLX_NV_swap_group"))
        return std::nullopt;
    const auto bind = lookupFunction<BindSwapBarrierNVFunction>("glXBindSwapBarrierNV");
    const bool bound = bind(display, group, barrier);
    return takeXError(display) == 0 && bound;
}

std::optional<bool> GlxSwapExtensions::setSwapInterval(int interval)
{
    if (offers("GLX_EXT_swap_control"))
        return setIntervalEXT(interval);
    if (offers("GLX_MESA_swap_control"))
        return setIntervalMESA(interval);
    return std::nullopt;
}

bool GlxSwapExtensions::setIntervalEXT(int interval)
{
    // A negative interval without the tear extension is an X error on some servers.
    if (interval < 0 && !offers("GLX_EXT_swap_control_tear"))
        return false;
    lookupFunction<SwapIntervalEXTFunction>("glXSwapIntervalEXT")(display, window, interval);
    if (takeXError(display))
        return false;
    unsigned setting = 0;
    glXQueryDrawable(display, window, GLX_SWAP_INTERVAL_EXT, &setting);
    if (interval >= 0)
        return setting == static_cast<unsigned>(interval);
    // With tearing the interval reads back as its magnitude, and late swaps are marked to tear.
    unsigned tears = 0;
    glXQueryDrawable(display, window, GLX_LATE_SWAPS_TEAR_EXT, &tears);
    return setting == static_cast<unsigned>(-interval) && tears == 1;
}

bool GlxSwapExtensions::setIntervalMESA(int interval)
{
    // This variant takes no negative interval, so it cannot tear.
    if (interval < 0)
        return false;
    const auto set = lookupFunction<SwapIntervalMESAFunction>("glXSwapIntervalMESA");
    const auto get = lookupFunction<GetSwapIntervalMESAFunction>("glXGetSwapIntervalMESA");
    const int status = set(static_cast<unsigned>(interval));
    return takeXError(display) == 0 && status == 0 && get() == interval;
}
