// The baseline of the frame-loop benchmark: one window, created and drawn the way a Varnel window
// in mode N is, with the same message drain, black clear, scissored pattern and swap, but with no
// clock reading and no meter in the loop. The bars advance with the frame count instead. So that
// the benchmark can count its frames the same way as the tool's, it writes a line every 100
// frames, as the tool does.
//
//   reference_loop x y width height
#include <windows.h>

#include "app/launch.h"
#include "app/window_groups.h"
#include "frame/pattern.h"
#include "frame/refresh_meter.h"
#include "gl/wgl_context.h"
#include "window/win32_window.h"

#include <cstdio>
#include <thread>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc != 5)
        return 1;
    const int32_t x = parseLeadingInt(__argv[1]);
    const int32_t y = parseLeadingInt(__argv[2]);
    const int32_t width = parseLeadingInt(__argv[3]);
    const int32_t height = parseLeadingInt(__argv[4]);

    registerWindowClass();
    HWND hwnd =
        CreateWindowExW(WS_EX_APPWINDOW, WINDOW_CLASS_NAME, L"reference", WS_POPUP, x, y, width,
                        height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    HDC hdc = GetDC(hwnd);
    HGLRC hglrc = nullptr;
    if (createCurrentContext(hdc, &hglrc))
        return 2;
    WglSwapExtensions(hdc).setSwapInterval(0);
    // As in the tool, the window is shown a second after its set-up. Under Wine a window shown
    // at once draws markedly slower for the whole run, which would flatter the tool.
    std::this_thread::sleep_for(START_DELAY);
    ShowWindow(hwnd, SW_SHOW);

    long long frames = 0;
    while (drainMessages()) {
        clearToBlack();
        drawTestPattern(static_cast<double>(frames) / 1000.0, PATTERN_PERIOD, width, height);
        SwapBuffers(hdc);
        if (++frames % REPORT_FRAMES == 0) {
            std::printf("frames %lld\n", frames);
            std::fflush(stdout);
        }
    }

    destroyContext(hglrc);
    ReleaseDC(hwnd, hdc);
    DestroyWindow(hwnd);
    return 0;
}
