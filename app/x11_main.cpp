#include "app/launch.h"
#include "app/usage.h"
#include "app/window_groups.h"
#include "gl/glx_context.h"
#include "window/x11_window.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<WindowGroup> groups = parseWindowGroups(argc, argv);
    if (groups.empty()) {
        std::cerr << USAGE_TEXT << std::endl;
        return 1;
    }
    // Every window thread has its own connection, but GLX may share state between them.
    XInitThreads();
    installXErrorHandler();
    std::cout << std::endl;
    runWindows<Window>(groups, START_DELAY);
    closeEndedConnections();
    return 0;
}
