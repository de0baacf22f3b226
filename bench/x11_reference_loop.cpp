// The Linux baseline of the frame-loop benchmark: one window, made and drawn the way a Varnel
// window in mode N is, with the same event drain, black clear, scissored pattern and swap, but
// with no clock reading and no meter in the loop. The bars advance with the frame count instead.
// So that the benchmark can count its frames the same way as the tool's, it writes a line every
// 100 frames. Esc ends it.
//
//   x11_reference_loop x y width height
#include "app/window_groups.h"
#include "frame/pattern.h"
#include "frame/refresh_meter.h"
#include "gl/glx_context.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5)
        return 1;
    const int x = parseLeadingInt(argv[1]);
    const int y = parseLeadingInt(argv[2]);
    const int width = parseLeadingInt(argv[3]);
    const int height = parseLeadingInt(argv[4]);

    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    installXErrorHandler();
    XVisualInfo* visual = chooseVisual(display);
    if (!visual)
        return 2;
    XSetWindowAttributes attributes = {};
    attributes.colormap =
        XCreateColormap(display, RootWindow(display, visual->screen), visual->visual, AllocNone);
    attributes.background_pixmap = None;
    attributes.event_mask = KeyPressMask | StructureNotifyMask;
    const XWindow window = XCreateWindow(
        display, RootWindow(display, visual->screen), x, y, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, visual->depth, InputOutput, visual->visual,
        CWColormap | CWBackPixmap | CWBorderPixel | CWEventMask, &attributes);
    GLXContext context = nullptr;
    if (!createCurrentContext(display, window, visual, &context).empty())
        return 2;
    XFree(visual);
    GlxSwapExtensions(display, window, glxCalls()).setSwapInterval(0);
    XMapWindow(display, window);

    long long frames = 0;
    for (bool running = true; running;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Escape)
                running = false;
        }
        clearToBlack();
        drawTestPattern(static_cast<double>(frames) / 1000.0, PATTERN_PERIOD, width, height);
        glXSwapBuffers(display, window);
        if (++frames % REPORT_FRAMES == 0) {
            std::printf("frames %lld\n", frames);
            std::fflush(stdout);
        }
    }

    destroyContext(display, context);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
