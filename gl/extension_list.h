#pragma once

#include <cstdint>
#include <string>

// Whether a space-separated extension list, as GL and its window-system bindings report them,
// names the extension exactly: GLX_EXT_swap_control is not offered by a list that has only
// GLX_EXT_swap_control_tear.
bool hasExtension(const char* list, const std::string& name);

// Whether an address that wglGetProcAddress returned stands for a missing function: some drivers
// answer a name they lack with a small sentinel (-1 to 3) instead of null.
bool isMissingFunction(intptr_t address);
