#pragma once

#include <optional>

// The swap-control extension functions a window's set-up may call on its current context. Each
// answers with the function's result, or with nothing when the driver does not offer it.
class SwapExtensions
{
public:
    virtual ~SwapExtensions() = default;

    virtual std::optional<bool> joinSwapGroup(unsigned group) = 0;
    virtual std::optional<bool> bindSwapBarrier(unsigned group, unsigned barrier) = 0;
    virtual std::optional<bool> setSwapInterval(int interval) = 0;
};
