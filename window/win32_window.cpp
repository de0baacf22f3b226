#include "window/win32_window.h"

#include "frame/pattern.h"
#include "gl/opengl_queries.h"
#include "window/window_life.h"
#include "window/window_setup.h"

#include <string>

namespace {

constexpr const wchar_t* WINDOW_TITLE = L"Varnel";

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        // Frames come from the window's thread as fast as it swaps; a paint request only has to
        // be acknowledged so that it is not sent again.
        ValidateRect(hwnd, nullptr);
        return 0;
    case WM_ERASEBKGND:
        // The frame loop covers every pixel, so a system erase would only flicker.
        return 1;
    case WM_CLOSE:
        // The quit message ends this window's frame loop; the default handling destroys it.
        PostQuitMessage(0);
        break;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            PostQuitMessage(0);
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Names the Win32 call that just failed, with the thread's last error code.
std::string callFailure(const char* call)
{
    const DWORD error = GetLastError();
    return std::string(call) + " failed (error " + std::to_string(error) + ")";
}

} // namespace

bool drainMessages()
{
    // No window filter: the quit message belongs to the thread, not to the window.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return false;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

void registerWindowClass()
{
    WNDCLASSW windowClass = {};
    // Each window keeps one device context for its life, which its GL context is bound to.
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = WINDOW_CLASS_NAME;
    RegisterClassW(&windowClass);
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
    // A popup without WS_VISIBLE has no border or caption and stays hidden until the start.
    hwnd = CreateWindowExW(WS_EX_APPWINDOW, WINDOW_CLASS_NAME, WINDOW_TITLE, WS_POPUP, x, y, width,
                           height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd)
        return callFailure("CreateWindowExW");
    hdc = GetDC(hwnd);
    if (!hdc)
        return callFailure("GetDC");
    if (const char* failedCall = createCurrentContext(hdc, &hglrc))
        return callFailure(failedCall);
    return drawableSizeProblem(width, height, largestDrawable());
}

void Window::show()
{
    ShowWindow(hwnd, SW_SHOW);
}

bool Window::handleEvents()
{
    return drainMessages();
}

void Window::clearFrame()
{
    clearToBlack();
}

void Window::presentFrame(double t)
{
    drawTestPattern(t, PATTERN_PERIOD, width, height);
    SwapBuffers(hdc);
}

void Window::tearDown()
{
    // After a close request the system has already destroyed the window; releasing its device
    // context and destroying it again then simply have no effect.
    if (hglrc)
        destroyContext(hglrc);
    if (hdc)
        ReleaseDC(hwnd, hdc);
    if (hwnd)
        DestroyWindow(hwnd);
    hglrc = nullptr;
    hdc = nullptr;
    hwnd = nullptr;
}
