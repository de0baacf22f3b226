#include "app/launch.h"
#include "app/usage.h"
#include "app/window_groups.h"
#include "gl/glx_context.h"
#include "window/x11_window.h"

#include <cstdlib>
#include <iostream>
#include <optional>

int main(int argc, char** argv)
{
    const std::vector<WindowGroup> groups = parseWindowGroups(argc, argv);
    if (groups.empty()) {
        std::cerr << USAGE_TEXT << std::endl;
        return 1;
    }
    const char* clockName = std::getenv(PATTERN_CLOCK_VARIABLE);
    const std::optional<PatternClock> clock = patternClockNamed(clockName);
    if (!clock) {
        std::cerr << unknownClockMessage(clockName) << std::endl;
        return 1;
    }
    patternClock = *clock;
    // Every window thread has its own connection, but GLX may share state between them.
    XInitThreads();
    installXErrorHandler();
    std::cout << std::endl;
    const bool allMade = runWindows<Window>(groups, START_DELAY);
    closeEndedConnections();
    if (anyConnectionLost()) {
        // A window that lost its display did not end as asked: a script must see that. Leave
        // at once, past the libraries' exit handlers: GLX's would wait forever for the lock of
        // a connection that broke inside a call.
        std::cout.flush();
        std::_Exit(1);
    }
    return allMade ? 0 : 1;
}
