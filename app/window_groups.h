#pragma once

#include <cstdint>
#include <vector>

// One window as the command line asks for it: five arguments, x y width height mode.
struct WindowGroup
{
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    char mode;
};

constexpr int ARGUMENTS_PER_GROUP = 5;

// Parses the decimal number at the start of text the way atoi does (leading white space, an
// optional sign, digits up to the first non-digit, 0 when there is no number), but saturates at
// the 32-bit limits where atoi's result would be undefined.
int32_t parseLeadingInt(const char* text);

// The groups of the command line in order, or none when the argument count is not one program
// name followed by whole groups; the caller then shows the usage text. Only the first character
// of a mode argument counts (NUL for an empty one).
std::vector<WindowGroup> parseWindowGroups(int argc, const char* const* argv);
