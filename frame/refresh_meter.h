#pragma once

#include <cstdint>

// Measures one window's frame intervals and reports its refresh rate.
class RefreshMeter
{
public:
    void start(int64_t now) { (void)now; }
    void addFrame(int64_t now, int32_t x, int32_t y) { (void)now, (void)x, (void)y; }
};
