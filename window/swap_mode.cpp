#include "window/swap_mode.h"

#include <iostream>

SwapMode swapModeFor(char letter)
{
    switch (letter) {
    case 'S':
        return {SwapAction::JoinSwapGroup, 0};
    case 'V':
        return {SwapAction::SetSwapInterval, 1};
    case 'T':
        return {SwapAction::SetSwapInterval, -1};
    default:
        return {SwapAction::SetSwapInterval, 0};
    }
}

void applySwapMode(char mode, int32_t x, int32_t y, SwapExtensions& extensions)
{
    const SwapMode swapMode = swapModeFor(mode);
    if (swapMode.action == SwapAction::SetSwapInterval) {
        if (extensions.setSwapInterval(swapMode.interval).value_or(false))
            std::cout << "window at " << x << "," << y << " set swap interval " << swapMode.interval
                      << std::endl;
        return;
    }
    if (extensions.joinSwapGroup(SWAP_GROUP).value_or(false))
        std::cout << "window at " << x << "," << y << " joined swap group" << std::endl;
    // The barrier is bound even when joining failed: it belongs to the group, not to the window.
    if (extensions.bindSwapBarrier(SWAP_GROUP, SWAP_BARRIER).value_or(false))
        std::cout << "bound swap barrier" << std::endl;
}
