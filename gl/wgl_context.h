#pragma once

#include <windows.h>

// Gives the window's device context a double-buffered RGBA OpenGL pixel format, creates a context
// on it and makes that context current on the calling thread. Returns nullptr on success, or the
// name of the call that failed, with that call's GetLastError value still in place.
const char* createCurrentContext(HDC hdc, HGLRC* hglrc);

// Leaves the calling thread without a current context and deletes hglrc.
void destroyContext(HGLRC hglrc);

// The named extension function of the current context, or nullptr when the driver lacks it.
PROC lookupExtension(const char* name);
