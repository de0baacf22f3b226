#pragma once

#include <string>

// Whether a space-separated extension list, as GL and its window-system bindings report them,
// names the extension exactly: GLX_EXT_swap_control is not offered by a list that has only
// GLX_EXT_swap_control_tear.
bool hasExtension(const char* list, const std::string& name);
