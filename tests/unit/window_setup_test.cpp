#include "window/window_setup.h"

#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <limits>

TEST(DrawableSizeProblem, WindowsUpToTheDriversLargestDrawableAreFine)
{
    const DrawableSize largest = {16384, 8192};
    EXPECT_EQ(drawableSizeProblem(16384, 8192, largest), "");
    EXPECT_EQ(drawableSizeProblem(0, 0, largest), "");
    // Sizes below zero give an empty window, which every driver draws.
    EXPECT_EQ(drawableSizeProblem(-5, std::numeric_limits<int32_t>::min(), largest), "");
}

TEST(DrawableSizeProblem, LargerWindowsAreRefusedWithSizeAndLimit)
{
    const DrawableSize largest = {16384, 8192};
    EXPECT_EQ(drawableSizeProblem(16385, 100, largest),
              "16385x100 pixels is more than the driver can draw (at most 16384x8192)");
    EXPECT_EQ(drawableSizeProblem(100, 8193, largest),
              "100x8193 pixels is more than the driver can draw (at most 16384x8192)");
    EXPECT_NE(drawableSizeProblem(std::numeric_limits<int32_t>::max(), 1, largest), "");
}

TEST(ReportSetupFailure, NamesTheWindowAndTheProblemOnOneLine)
{
    StdoutCapture output;
    reportSetupFailure(-1920, 0, "SetPixelFormat failed (error 2000)");
    EXPECT_EQ(output.text(),
              "window at -1920,0 could not be set up: SetPixelFormat failed (error 2000)\n");
}
