#pragma once

#include "gl/swap_extensions.h"

#include <cstdint>

// What a mode letter asks of a window's swaps.
enum class SwapAction
{
    JoinSwapGroup,  // join the swap group and bind it to the barrier; the interval stays as it is
    SetSwapInterval // set the swap interval
};

struct SwapMode
{
    SwapAction action;
    int interval; // only for SetSwapInterval
};

// Every window in swap-group mode joins the same group, bound to the same barrier.
constexpr unsigned SWAP_GROUP = 1;
constexpr unsigned SWAP_BARRIER = 1;

// 'S' joins the swap group, 'V' waits for vsync (interval 1), 'T' tears when late (interval -1);
// every other character, lower case included, means no synchronisation (interval 0).
SwapMode swapModeFor(char letter);

// Applies the mode with the window's current context and writes a line for each call that the
// driver accepted. The caller holds globalMutex, so set-ups and their lines never overlap.
void applySwapMode(char mode, int32_t x, int32_t y, SwapExtensions& extensions);
