#include "window/window_setup.h"

#include <iostream>

std::string drawableSizeProblem(int32_t width, int32_t height, DrawableSize largest)
{
    if (width <= largest.width && height <= largest.height)
        return {};
    return std::to_string(width) + "x" + std::to_string(height) +
           " pixels is more than the driver can draw (at most " + std::to_string(largest.width) +
           "x" + std::to_string(largest.height) + ")";
}

void reportSetupFailure(int32_t x, int32_t y, const std::string& problem)
{
    std::cout << "window at " << x << "," << y << " could not be set up: " << problem << std::endl;
}
