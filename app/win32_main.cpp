#include <windows.h>

#include "app/launch.h"
#include "app/usage.h"
#include "app/window_groups.h"
#include "window/win32_window.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

namespace {

// A desktop program has no console of its own: write to the one of the shell that started it.
// Without one (a shortcut, say) the output is simply lost.
void attachParentConsole()
{
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::vector<WindowGroup> groups = parseWindowGroups(__argc, __argv);
    if (groups.empty()) {
        MessageBoxA(nullptr, USAGE_TEXT, USAGE_CAPTION, MB_OK);
        return 1;
    }
    const char* clockName = std::getenv(PATTERN_CLOCK_VARIABLE);
    const std::optional<PatternClock> clock = patternClockNamed(clockName);
    if (!clock) {
        MessageBoxA(nullptr, unknownClockMessage(clockName).c_str(), CLOCK_CAPTION, MB_OK);
        return 1;
    }
    patternClock = *clock;
    attachParentConsole();
    std::cout << std::endl;
    registerWindowClass();
    return runWindows<Window>(groups, START_DELAY) ? 0 : 1;
}
