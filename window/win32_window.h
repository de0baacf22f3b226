#pragma once

#include <windows.h>

#include "gl/wgl_context.h"

#include <cstdint>
#include <string>
#include <thread>

constexpr const wchar_t* WINDOW_CLASS_NAME = L"GL_WINDOW_CLASS";

// Registers the class shared by all test windows. Called once, before any Window exists.
void registerWindowClass();

// Dispatches every queued message of the calling thread; false once its quit message has come.
bool drainMessages();

// One test window and the thread that creates it, draws into it and destroys it. The object must
// stay at one address while its thread runs, since the thread works on it.
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
    WglSwapExtensions swapExtensions() const { return WglSwapExtensions(hdc); }
    void show();
    bool handleEvents();
    void clearFrame();
    void presentFrame(double t);
    void tearDown();

    std::thread thread;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    HWND hwnd = nullptr;
    HDC hdc = nullptr;
    HGLRC hglrc = nullptr;
};
