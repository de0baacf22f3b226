// The baseline of the start-skew benchmark: COUNT windows, each made on a thread of its own and
// shown the moment one condition variable releases all the threads at once, a second after the
// start, as the tool's start gate opens. How far apart in time they appear is the platform's
// share of the skew; the tool's window threads poll a flag every millisecond instead. The
// windows stay up for two seconds, then the program ends.
//
//   start_reference count width height
#include <windows.h>

#include "app/launch.h"
#include "app/window_groups.h"
#include "window/win32_window.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc != 4)
        return 1;
    const int count = parseLeadingInt(__argv[1]);
    const int width = parseLeadingInt(__argv[2]);
    const int height = parseLeadingInt(__argv[3]);
    registerWindowClass();

    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            HWND hwnd =
                CreateWindowExW(WS_EX_APPWINDOW, WINDOW_CLASS_NAME, L"reference", WS_POPUP,
                                20 + (i % 4) * (width + 20), 20 + (i / 4) * (height + 20), width,
                                height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
            {
                std::unique_lock<std::mutex> lock(mutex);
                released.wait(lock, [&] { return go; });
            }
            ShowWindow(hwnd, SW_SHOW);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (drainMessages() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            DestroyWindow(hwnd);
        });
    }
    std::this_thread::sleep_for(START_DELAY);
    {
        std::lock_guard<std::mutex> lock(mutex);
        go = true;
    }
    released.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
