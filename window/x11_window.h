#pragma once

#include "gl/glx_context.h"
#include "gl/glx_headers.h"

#include <cstdint>
#include <string>
#include <thread>

// Closes the X connections of the windows that have ended. Called once, after every window has
// ended.
void closeEndedConnections();

// Whether any window ended because its connection to the X server was lost (its client killed,
// or the server gone).
bool anyConnectionLost();

// One test window and the thread that creates it, draws into it and destroys it, each with its
// own connection to the X server. The object must stay at one address while its thread runs,
// since the thread works on it.
class Window
{
public:
    // Starts the window's thread and returns without waiting for the window's set-up.
    Window(int32_t x, int32_t y, int32_t width, int32_t height, char mode);
    // Waits until the window has been closed and its thread has ended.
    ~Window();

    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

private:
    template <class NativeWindow> friend bool setUpWindow(NativeWindow& window, char mode);
    template <class NativeWindow> friend void runWindowLife(NativeWindow& window, char mode);

    void run(char mode);
    std::string createWindowAndContext();
    std::string createXWindow(XVisualInfo* visual);
    void describeToWindowManager();
    GlxSwapExtensions swapExtensions() const
    {
        return GlxSwapExtensions(display, xwindow, glxCalls());
    }
    void show();
    bool handleEvents();
    void clearFrame();
    void presentFrame(double t);
    void tearDown();
    void releaseOnServer();

    std::thread thread;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    Display* display = nullptr;
    XWindow xwindow = 0;
    Colormap colormap = 0;
    GLXContext context = nullptr;
    Atom deleteWindow = 0;
    Atom protocols = 0;
    // Set by Xlib, on this window's own thread, when the connection breaks: the window then ends
    // and makes no more X calls.
    bool connectionLost = false;
    // Another client destroyed the X window.
    bool destroyedElsewhere = false;
};
