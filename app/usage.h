#pragma once

// Shown when the argument count is not one or more whole groups of five.
constexpr const char* USAGE_CAPTION = "usage";
constexpr const char* USAGE_TEXT =
    "Please run from the command shell and provide \n"
    "the dimensions of each window to open (x, y, width, height) and the swap behavior (S: join "
    "swap group, V: wait for vsync, T: swap control tear, N: no sync).\n"
    "e.g. Varnel  0 0 1920 1200 S   1920 0 1920 1200 S";
