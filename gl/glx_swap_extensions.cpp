#include "gl/glx_swap_extensions.h"

#include "gl/extension_list.h"

namespace {

using JoinSwapGroupNVFunction = Bool (*)(Display*, GLXDrawable, GLuint group);
using BindSwapBarrierNVFunction = Bool (*)(Display*, GLuint group, GLuint barrier);
using SwapIntervalEXTFunction = void (*)(Display*, GLXDrawable, int interval);
using SwapIntervalMESAFunction = int (*)(unsigned interval);
using GetSwapIntervalMESAFunction = int (*)();

} // namespace

GlxSwapExtensions::GlxSwapExtensions(Display* display, XWindow window, const GlxCalls& calls)
    : display(display), window(window), calls(calls), extensionList(calls.extensions(display))
{
}

bool GlxSwapExtensions::offers(const char* extension) const
{
    return hasExtension(extensionList, extension);
}

template <class Function> Function GlxSwapExtensions::lookup(const char* name) const
{
    return reinterpret_cast<Function>(calls.lookup(reinterpret_cast<const GLubyte*>(name)));
}

std::optional<bool> GlxSwapExtensions::joinSwapGroup(unsigned group)
{
    if (!offers("GLX_NV_swap_group"))
        return std::nullopt;
    const auto join = lookup<JoinSwapGroupNVFunction>("glXJoinSwapGroupNV");
    const bool joined = join(display, window, group);
    return calls.takeError(display) == 0 && joined;
}

std::optional<bool> GlxSwapExtensions::bindSwapBarrier(unsigned group, unsigned barrier)
{
    if (!offers("GLX_NV_swap_group"))
        return std::nullopt;
    const auto bind = lookup<BindSwapBarrierNVFunction>("glXBindSwapBarrierNV");
    const bool bound = bind(display, group, barrier);
    return calls.takeError(display) == 0 && bound;
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
    lookup<SwapIntervalEXTFunction>("glXSwapIntervalEXT")(display, window, interval);
    if (calls.takeError(display))
        return false;
    unsigned setting = 0;
    calls.queryDrawable(display, window, GLX_SWAP_INTERVAL_EXT, &setting);
    if (interval >= 0)
        return setting == static_cast<unsigned>(interval);
    // With tearing the interval reads back as its magnitude, and late swaps are marked to tear.
    unsigned tears = 0;
    calls.queryDrawable(display, window, GLX_LATE_SWAPS_TEAR_EXT, &tears);
    return setting == static_cast<unsigned>(-interval) && tears == 1;
}

bool GlxSwapExtensions::setIntervalMESA(int interval)
{
    // This variant takes no negative interval, so it cannot tear.
    if (interval < 0)
        return false;
    const auto set = lookup<SwapIntervalMESAFunction>("glXSwapIntervalMESA");
    const auto get = lookup<GetSwapIntervalMESAFunction>("glXGetSwapIntervalMESA");
    const int status = set(static_cast<unsigned>(interval));
    return calls.takeError(display) == 0 && status == 0 && get() == interval;
}
