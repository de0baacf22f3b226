#include "gl/extension_list.h"

#include <gtest/gtest.h>

TEST(HasExtension, MatchesWholeNamesOnly)
{
    const char* list = "GLX_ARB_multisample GLX_EXT_swap_control_tear  GLX_MESA_swap_control ";
    EXPECT_TRUE(hasExtension(list, "GLX_ARB_multisample"));
    EXPECT_TRUE(hasExtension(list, "GLX_EXT_swap_control_tear"));
    EXPECT_TRUE(hasExtension(list, "GLX_MESA_swap_control"));
    EXPECT_FALSE(hasExtension(list, "GLX_EXT_swap_control"));
    EXPECT_FALSE(hasExtension(list, "GLX_ARB"));
    EXPECT_FALSE(hasExtension(list, "swap_control"));
    EXPECT_FALSE(hasExtension("", "GLX_EXT_swap_control"));
    EXPECT_FALSE(hasExtension(nullptr, "GLX_EXT_swap_control"));
}

TEST(IsMissingFunction, TakesTheDriversSentinelsForMissingFunctions)
{
    for (intptr_t sentinel : {-1, 0, 1, 2, 3})
        EXPECT_TRUE(isMissingFunction(sentinel)) << sentinel;
    for (intptr_t address : {-2, 4, 0x1000, 0x7ffde000})
        EXPECT_FALSE(isMissingFunction(address)) << address;
}
