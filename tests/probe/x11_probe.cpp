// Test helper for the X11 front end, the twin of probe.exe: finds the tool's windows on the
// display named by DISPLAY, reports them and sends them input.
//
//   x11_probe windows          one line per test window:
//                              id x y width height visible borderless taskbar pid thread title
//   x11_probe key X Y NAME     a key press (escape, a, return or space) to the test window whose
//                              top-left corner is at X,Y
//   x11_probe close X Y        a close request (WM_DELETE_WINDOW) to that window
//   x11_probe close-all        a close request to every test window
//   x11_probe glx-extensions   the display's GLX extension string
//   x11_probe map-times COUNT WIDTH HEIGHT TIMEOUT_MS
//                              "watching", then the moment (monotonic clock, ms) at which each of
//                              the next COUNT top-level windows of that size is mapped
//
// Exit status 0 on success, 2 when the window is not there, 1 on a usage error.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <GL/glx.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

Display* display;

// Windows may vanish between two requests; that is no reason to stop.
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

bool isTestWindow(Window window)
{
    XClassHint hint = {};
    if (!XGetClassHint(display, window, &hint))
        return false;
    const bool ours = hint.res_class && std::strcmp(hint.res_class, "GL_WINDOW_CLASS") == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return ours;
}

void collectTestWindows(Window window, std::vector<Window>& found)
{
    if (isTestWindow(window))
        found.push_back(window);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i)
        collectTestWindows(children[i], found);
    XFree(children);
}

std::vector<Window> testWindows()
{
    std::vector<Window> found;
    collectTestWindows(DefaultRootWindow(display), found);
    return found;
}

struct Geometry
{
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
    bool viewable = false;
    bool overrideRedirect = false;
};

Geometry geometryOf(Window window)
{
    Geometry geometry;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return geometry;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &geometry.x,
                          &geometry.y, &child);
    geometry.width = static_cast<unsigned>(attributes.width);
    geometry.height = static_cast<unsigned>(attributes.height);
    geometry.viewable = attributes.map_state == IsViewable;
    geometry.overrideRedirect = attributes.override_redirect;
    return geometry;
}

// The 32-bit items of a window property, empty when it is not set.
std::vector<long> property(Window window, const char* name)
{
    Atom type;
    int format;
    unsigned long count, remaining;
    unsigned char* data = nullptr;
    std::vector<long> items;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 64, False,
                           AnyPropertyType, &type, &format, &count, &remaining, &data) == Success &&
        format == 32)
        items.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    XFree(data);
    return items;
}

bool undecorated(Window window)
{
    const std::vector<long> hints = property(window, "_MOTIF_WM_HINTS");
    return hints.size() >= 3 && (hints[0] & 2) && hints[2] == 0;
}

int listWindows()
{
    for (Window window : testWindows()) {
        const Geometry geometry = geometryOf(window);
        char* name = nullptr;
        XFetchName(display, window, &name);
        const std::vector<long> pid = property(window, "_NET_WM_PID");
        std::printf("%lx %d %d %u %u %d %d %d %ld - %s\n", window, geometry.x, geometry.y,
                    geometry.width, geometry.height, geometry.viewable ? 1 : 0,
                    undecorated(window) ? 1 : 0, geometry.overrideRedirect ? 0 : 1,
                    pid.empty() ? 0L : pid[0], name ? name : "");
        XFree(name);
    }
    return 0;
}

Window testWindowAt(int x, int y)
{
    for (Window window : testWindows()) {
        const Geometry geometry = geometryOf(window);
        if (geometry.x == x && geometry.y == y)
            return window;
    }
    return 0;
}

int sendKey(int x, int y, const std::string& name)
{
    static const std::map<std::string, KeySym> keys = {
        {"escape", XK_Escape}, {"a", XK_a}, {"return", XK_Return}, {"space", XK_space}};
    const auto key = keys.find(name);
    const Window window = testWindowAt(x, y);
    if (key == keys.end())
        return 1;
    if (!window)
        return 2;
    XEvent event = {};
    event.xkey.type = KeyPress;
    event.xkey.display = display;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.time = CurrentTime;
    event.xkey.same_screen = True;
    event.xkey.keycode = XKeysymToKeycode(display, key->second);
    XSendEvent(display, window, True, KeyPressMask, &event);
    return 0;
}

// A client message carrying WM_DELETE_WINDOW; a close request when its type is WM_PROTOCOLS.
void sendDeleteMessage(Window window, const char* type)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
}

void requestClose(Window window)
{
    sendDeleteMessage(window, "WM_PROTOCOLS");
}

int closeAt(int x, int y)
{
    const Window window = testWindowAt(x, y);
    if (!window)
        return 2;
    requestClose(window);
    return 0;
}

// Sends a message of another type whose first word is WM_DELETE_WINDOW: not a close request.
int forgeCloseAt(int x, int y)
{
    const Window window = testWindowAt(x, y);
    if (!window)
        return 2;
    sendDeleteMessage(window, "_VARNEL_NOT_A_PROTOCOL");
    return 0;
}

// Destroys the window from this connection, as another client may.
int destroyAt(int x, int y)
{
    const Window window = testWindowAt(x, y);
    if (!window)
        return 2;
    XDestroyWindow(display, window);
    return 0;
}

int closeAll()
{
    for (Window window : testWindows())
        requestClose(window);
    return 0;
}

int printGlxExtensions()
{
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    std::printf("%s\n", extensions ? extensions : "");
    return 0;
}

double monotonicMs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

int printMapTimes(int count, int width, int height, int timeoutMs)
{
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::puts("watching");
    std::fflush(stdout);
    const double deadline = monotonicMs() + timeoutMs;
    int seen = 0;
    while (seen < count && monotonicMs() < deadline) {
        if (!XPending(display)) {
            pollfd connection = {ConnectionNumber(display), POLLIN, 0};
            poll(&connection, 1, 1);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        const double at = monotonicMs();
        XWindowAttributes attributes;
        if (event.type != MapNotify ||
            !XGetWindowAttributes(display, event.xmap.window, &attributes) ||
            attributes.width != width || attributes.height != height)
            continue;
        std::printf("%.3f\n", at);
        std::fflush(stdout);
        ++seen;
    }
    return seen == count ? 0 : 2;
}

int run(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "windows" && argc == 2)
        return listWindows();
    if (command == "key" && argc == 5)
        return sendKey(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if (command == "close" && argc == 4)
        return closeAt(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "close-all" && argc == 2)
        return closeAll();
    if (command == "forge-close" && argc == 4)
        return forgeCloseAt(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "destroy" && argc == 4)
        return destroyAt(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "glx-extensions" && argc == 2)
        return printGlxExtensions();
    if (command == "map-times" && argc == 6)
        return printMapTimes(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                             std::atoi(argv[5]));
    std::fputs("usage: x11_probe windows | key X Y NAME | close X Y | close-all | "
               "forge-close X Y | destroy X Y | glx-extensions | "
               "map-times COUNT WIDTH HEIGHT TIMEOUT_MS\n",
               stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("x11_probe: cannot open the display\n", stderr);
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    const int status = run(argc, argv);
    XSync(display, False);
    XCloseDisplay(display);
    return status;
}
