#include "window/x11_window.h"

#include "app/globals.h"
#include "frame/pattern.h"
#include "gl/opengl_queries.h"
#include "window/window_life.h"
#include "window/window_setup.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>
#include <vector>

namespace {

constexpr const char* WINDOW_TITLE = "Varnel";
constexpr const char* WINDOW_CLASS_NAME = "GL_WINDOW_CLASS";

// X carries positions as 16-bit signed and sizes as 16-bit unsigned numbers, and a window has at
// least one pixel. Larger windows are refused later, against the driver's limit.
constexpr int32_t X_COORDINATE_LIMIT = 32767;

int32_t xPosition(int32_t value)
{
    return std::clamp(value, -X_COORDINATE_LIMIT - 1, X_COORDINATE_LIMIT);
}

unsigned xSize(int32_t value)
{
    return static_cast<unsigned>(std::clamp(value, 1, X_COORDINATE_LIMIT));
}

// Closing a connection runs Xlib's extension hooks, which are not safe against other threads
// using or closing their own connections at the same moment: with Mesa's software renderer that
// crashed now and then in libXext when two windows closed together. A window that ends therefore
// leaves its connection here, to be closed once no window thread is left.
std::mutex endedConnectionsMutex;
std::vector<Display*> endedConnections;

void keepUntilAllWindowsEnd(Display* display)
{
    std::lock_guard<std::mutex> lock(endedConnectionsMutex);
    endedConnections.push_back(display);
}

std::atomic<bool> connectionLostSomewhere{false};

// Xlib calls this instead of ending the process when a connection breaks; the call that met the
// break returns, and the connection is dead from then on.
void markConnectionLost(Display*, void* lostFlag)
{
    *static_cast<bool*>(lostFlag) = true;
}

void ignoreConnectionLost(Display*, void*) {}

// The window manager hints that ask for no decorations at all (the Motif hints every common
// window manager honours).
struct MotifWmHints
{
    unsigned long flags = 2; // decorations field is valid
    unsigned long functions = 0;
    unsigned long decorations = 0;
    long inputMode = 0;
    unsigned long status = 0;
};

} // namespace

bool anyConnectionLost()
{
    return connectionLostSomewhere.load();
}

void closeEndedConnections()
{
    std::lock_guard<std::mutex> lock(endedConnectionsMutex);
    for (Display* display : endedConnections)
        XCloseDisplay(display);
    endedConnections.clear();
}

Window::Window(int32_t x, int32_t y, int32_t width, int32_t height, char mode)
    : x(x), y(y), width(width), height(height)
{
    thread = std::thread(&Window::run, this, mode);
}

Window::~Window()
{
    if (thread.joinable())
        thread.join();
}

void Window::run(char mode)
{
    runWindowLife(*this, mode);
}

std::string Window::createWindowAndContext()
{
    display = XOpenDisplay(nullptr);
    if (!display)
        return "XOpenDisplay failed";
    XSetIOErrorExitHandler(display, markConnectionLost, &connectionLost);
    XVisualInfo* visual = chooseVisual(display);
    if (!visual)
        return "glXChooseVisual failed";
    std::string problem = createXWindow(visual);
    if (problem.empty())
        problem = createCurrentContext(display, xwindow, visual, &context);
    XFree(visual);
    if (!problem.empty())
        return problem;
    const DrawableSize largest = largestDrawable();
    return drawableSizeProblem(width, height,
                               {std::min(largest.width, X_COORDINATE_LIMIT),
                                std::min(largest.height, X_COORDINATE_LIMIT)});
}

std::string Window::createXWindow(XVisualInfo* visual)
{
    const XWindow root = RootWindow(display, visual->screen);
    colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    XSetWindowAttributes attributes = {};
    attributes.colormap = colormap;
    // No background: the server must not clear the window, the frame loop covers every pixel.
    attributes.background_pixmap = None;
    attributes.border_pixel = 0;
    // Structure events tell when another client destroys the window.
    attributes.event_mask = KeyPressMask | StructureNotifyMask;
    xwindow = XCreateWindow(display, root, xPosition(x), xPosition(y), xSize(width), xSize(height),
                            0, visual->depth, InputOutput, visual->visual,
                            CWColormap | CWBackPixmap | CWBorderPixel | CWEventMask, &attributes);
    if (const int error = takeXError(display))
        return "XCreateWindow failed (X error " + std::to_string(error) + ")";
    describeToWindowManager();
    return {};
}

void Window::describeToWindowManager()
{
    XStoreName(display, xwindow, WINDOW_TITLE);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, xwindow, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(WINDOW_TITLE),
                    static_cast<int>(std::strlen(WINDOW_TITLE)));

    XClassHint classHint = {const_cast<char*>(WINDOW_TITLE), const_cast<char*>(WINDOW_CLASS_NAME)};
    XSetClassHint(display, xwindow, &classHint);

    // Exactly where and as large as the command line says, and no other size.
    XSizeHints sizeHints = {};
    sizeHints.flags = USPosition | USSize | PMinSize | PMaxSize;
    sizeHints.x = xPosition(x);
    sizeHints.y = xPosition(y);
    sizeHints.width = sizeHints.min_width = sizeHints.max_width = static_cast<int>(xSize(width));
    sizeHints.height = sizeHints.min_height = sizeHints.max_height =
        static_cast<int>(xSize(height));
    XSetWMNormalHints(display, xwindow, &sizeHints);

    const MotifWmHints noDecorations;
    const Atom motifHints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, xwindow, motifHints, motifHints, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&noDecorations), 5);

    const long pid = getpid();
    XChangeProperty(display, xwindow, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);

    // A close request from the window manager comes as a message instead of killing the client.
    protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, xwindow, &deleteWindow, 1);
}

void Window::show()
{
    XMapWindow(display, xwindow);
}

bool Window::handleEvents()
{
    while (!connectionLost && XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Escape)
            return false;
        // A close request is the window manager protocol's message, nothing else.
        if (event.type == ClientMessage && event.xclient.message_type == protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
            return false;
        if (event.type == DestroyNotify && event.xdestroywindow.window == xwindow) {
            destroyedElsewhere = true;
            return false;
        }
    }
    return !connectionLost;
}

void Window::clearFrame()
{
    clearToBlack();
}

void Window::presentFrame(double t)
{
    drawTestPattern(t, PATTERN_PERIOD, width, height);
    glXSwapBuffers(display, xwindow);
}

void Window::tearDown()
{
    if (connectionLost) {
        // Nothing on the server is left to release, and no call on the connection can work:
        // leave its handles behind (the process ends soon) and say why the window ended.
        connectionLostSomewhere.store(true);
        std::lock_guard<std::mutex> lock(globalMutex);
        std::cout << "window at " << x << "," << y << " lost its display connection" << std::endl;
    } else {
        releaseOnServer();
    }
    context = nullptr;
    colormap = 0;
    xwindow = 0;
    display = nullptr;
}

void Window::releaseOnServer()
{
    if (context)
        destroyContext(display, context);
    if (xwindow && !destroyedElsewhere)
        XDestroyWindow(display, xwindow);
    if (colormap)
        XFreeColormap(display, colormap);
    if (display) {
        // The window goes from the screen now, the connection only at the end, when this
        // object is gone: a break then must not reach it.
        XSync(display, False);
        XSetIOErrorExitHandler(display, ignoreConnectionLost, nullptr);
        keepUntilAllWindowsEnd(display);
    }
}
