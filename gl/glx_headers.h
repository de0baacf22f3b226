#pragma once

// Xlib names its window id type Window, which is also the name of the tool's window class. All X
// and GLX headers are therefore seen here, once, with that type renamed XWindow.
#define Window XWindow
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <GL/gl.h>
#include <GL/glx.h>
#undef Window
