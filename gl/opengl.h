#pragma once

// The Windows GL header relies on declarations from windows.h without including it everywhere.
#ifdef _WIN32
#include <windows.h>
#endif
#include <GL/gl.h>
