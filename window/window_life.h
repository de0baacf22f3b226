#pragma once

#include "app/globals.h"
#include "frame/clock.h"
#include "frame/refresh_meter.h"
#include "window/swap_mode.h"
#include "window/window_setup.h"

#include <mutex>
#include <string>

// The life of a test window on its own thread, the same on every platform. The platform's window
// class supplies the steps that touch the system:
//
//   x, y, width, height                   the window's rectangle from the command line
//   std::string createWindowAndContext()  makes the window and a current GL context for it;
//                                         empty on success, else what failed
//   swapExtensions()                      the swap-control functions of the current context
//   void show()                           puts the window on the screen
//   bool handleEvents()                   handles pending input; false once the window is to end
//   void clearFrame()                     clears the frame to black
//   void presentFrame(double t)           draws the pattern for time t and swaps the frame to
//                                         the screen
//   void tearDown()                       releases what the set-up acquired

// Set-up under globalMutex: drivers are not all safe against contexts being made side by side,
// and the set-up lines of different windows must not interleave. Returns whether the window can
// run; one that cannot is torn down at once, since nobody could ever close it.
template <class NativeWindow> bool setUpWindow(NativeWindow& window, char mode)
{
    std::lock_guard<std::mutex> lock(globalMutex);
    const std::string problem = window.createWindowAndContext();
    if (!problem.empty()) {
        reportSetupFailure(window.x, window.y, problem);
        window.tearDown();
        return false;
    }
    auto extensions = window.swapExtensions();
    applySwapMode(mode, window.x, window.y, extensions);
    return true;
}

// The whole thread body: set-up, the wait for the common start, then frames until the window is
// closed. Each frame's time is read after the clear, right before the pattern is drawn, so that
// it is as close as it can be to the swap; the meter reads the monotonic clock right after the
// swap, whichever clock the pattern follows: a wall clock may be stepped, frame times must not.
template <class NativeWindow> void runWindowLife(NativeWindow& window, char mode)
{
    if (!setUpWindow(window, mode))
        return;
    waitForStart();
    window.show();
    RefreshMeter meter;
    meter.start(monotonicNanoseconds());
    while (window.handleEvents()) {
        window.clearFrame();
        window.presentFrame(patternSeconds(patternClock));
        meter.addFrame(monotonicNanoseconds(), window.x, window.y);
    }
    window.tearDown();
}
