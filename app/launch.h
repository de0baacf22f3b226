#pragma once

#include "app/globals.h"
#include "app/window_groups.h"

#include <chrono>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// Time between creating the last window and releasing all of them. The set-ups run one at a
// time, so this gives them the chance to finish before the first frame is drawn anywhere.
constexpr std::chrono::milliseconds START_DELAY{1000};

// Opens one window per group, releases them all at one moment and returns once every window has
// ended, after writing the closing line. WindowT starts its own thread when constructed and joins
// it when destroyed; a thread that cannot start costs only its own window. Any other error while
// the windows are made ends the making: the start gate opens at once for those already made,
// since their threads would otherwise wait for it forever, they run and end as usual, and the
// result is false.
template <class WindowT>
bool runWindows(const std::vector<WindowGroup>& groups, std::chrono::milliseconds startDelay)
{
    // A deque grows without moving its elements: each window's thread keeps a pointer to it.
    std::deque<WindowT> windows;
    const WindowGroup* failed = nullptr;
    std::string failure;
    for (const WindowGroup& group : groups) {
        try {
            windows.emplace_back(group.x, group.y, group.width, group.height, group.mode);
        } catch (const std::system_error& error) {
            std::lock_guard<std::mutex> lock(globalMutex);
            std::cout << "window at " << group.x << "," << group.y
                      << " could not start its thread: " << error.what() << std::endl;
        } catch (const std::exception& error) {
            failed = &group;
            failure = error.what();
            break;
        } catch (...) {
            failed = &group;
            failure = "unknown error";
            break;
        }
    }

    if (failed) {
        startFlag.store(true);
        std::lock_guard<std::mutex> lock(globalMutex);
        std::cout << "window at " << failed->x << "," << failed->y
                  << " could not be made, nor any after it: " << failure << std::endl;
    } else {
        std::this_thread::sleep_for(startDelay);
        startFlag.store(true);
    }

    // Destroying a window joins its thread, so this waits until every window has been closed.
    while (!windows.empty())
        windows.pop_back();

    std::cout << "finished." << std::endl << std::endl;
    return failed == nullptr;
}
