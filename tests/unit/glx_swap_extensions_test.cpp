// GoogleTest first: the X headers define macros (None, Bool, Status) that its own names use.
#include <gtest/gtest.h>

#include "gl/glx_swap_extensions.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A GLX driver offering whatever extension string a case names, recording every call. Lookups
// of any name succeed, as Mesa's do: only the extension string says what works.
struct FakeDriver
{
    std::string extensions;
    std::vector<std::string> calls;
    int interval = 0; // what the drawable reads back
    bool lateTears = false;
    int error = 0; // the X error the next check reports
    Bool joinResult = True;
};

FakeDriver driver;

FakeDriver offering(const char* extensions)
{
    FakeDriver fresh;
    fresh.extensions = extensions;
    return fresh;
}

const char* fakeExtensions(Display*)
{
    return driver.extensions.c_str();
}

Bool fakeJoin(Display*, GLXDrawable, GLuint group)
{
    driver.calls.push_back("join " + std::to_string(group));
    return driver.joinResult;
}

Bool fakeBind(Display*, GLuint group, GLuint barrier)
{
    driver.calls.push_back("bind " + std::to_string(group) + " " + std::to_string(barrier));
    return True;
}

void fakeIntervalEXT(Display*, GLXDrawable, int interval)
{
    driver.calls.push_back("EXT " + std::to_string(interval));
    driver.interval = interval < 0 ? -interval : interval;
    driver.lateTears = interval < 0;
}

int fakeIntervalMESA(unsigned interval)
{
    driver.calls.push_back("MESA " + std::to_string(interval));
    driver.interval = static_cast<int>(interval);
    return 0;
}

int fakeGetIntervalMESA()
{
    return driver.interval;
}

__GLXextFuncPtr fakeLookup(const GLubyte* name)
{
    const std::string wanted = reinterpret_cast<const char*>(name);
    if (wanted == "glXJoinSwapGroupNV")
        return reinterpret_cast<__GLXextFuncPtr>(fakeJoin);
    if (wanted == "glXBindSwapBarrierNV")
        return reinterpret_cast<__GLXextFuncPtr>(fakeBind);
    if (wanted == "glXSwapIntervalEXT")
        return reinterpret_cast<__GLXextFuncPtr>(fakeIntervalEXT);
    if (wanted == "glXSwapIntervalMESA")
        return reinterpret_cast<__GLXextFuncPtr>(fakeIntervalMESA);
    if (wanted == "glXGetSwapIntervalMESA")
        return reinterpret_cast<__GLXextFuncPtr>(fakeGetIntervalMESA);
    return nullptr;
}

void fakeQueryDrawable(Display*, GLXDrawable, int attribute, unsigned int* value)
{
    if (attribute == GLX_SWAP_INTERVAL_EXT)
        *value = static_cast<unsigned>(driver.interval);
    else if (attribute == GLX_LATE_SWAPS_TEAR_EXT)
        *value = driver.lateTears ? 1 : 0;
}

int fakeTakeError(Display*)
{
    const int error = driver.error;
    driver.error = 0;
    return error;
}

const GlxCalls fakeCalls = {fakeExtensions, fakeLookup, fakeQueryDrawable, fakeTakeError};

struct IntervalCase
{
    const char* extensions;
    int interval;
    std::optional<bool> expected;
    std::vector<std::string> calls;
};

// Names each case in the test's output by its extension string and interval.
void PrintTo(const IntervalCase& c, std::ostream* out)
{
    *out << '"' << c.extensions << "\" interval " << c.interval;
}

class GlxSwapInterval : public testing::TestWithParam<IntervalCase>
{
};

TEST_P(GlxSwapInterval, IsSetOnlyThroughWhatTheExtensionStringOffers)
{
    const IntervalCase& c = GetParam();
    driver = offering(c.extensions);
    GlxSwapExtensions extensions(nullptr, 0, fakeCalls);
    EXPECT_EQ(extensions.setSwapInterval(c.interval), c.expected);
    EXPECT_EQ(driver.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, GlxSwapInterval,
    testing::Values(IntervalCase{"", 1, std::nullopt, {}},
                    // A name that only begins like the one wanted does not count.
                    IntervalCase{"GLX_EXT_swap_control_tear", 1, std::nullopt, {}},
                    IntervalCase{"GLX_ARB_x GLX_EXT_swap_control", 1, true, {"EXT 1"}},
                    IntervalCase{"GLX_EXT_swap_control", 0, true, {"EXT 0"}},
                    // Without the tear extension a negative interval is not even tried.
                    IntervalCase{"GLX_EXT_swap_control", -1, false, {}},
                    IntervalCase{
                        "GLX_EXT_swap_control GLX_EXT_swap_control_tear", -1, true, {"EXT -1"}},
                    // EXT is preferred; MESA serves where it is the only one, and cannot tear.
                    IntervalCase{"GLX_MESA_swap_control GLX_EXT_swap_control", 1, true, {"EXT 1"}},
                    IntervalCase{"GLX_MESA_swap_control", 1, true, {"MESA 1"}},
                    IntervalCase{"GLX_MESA_swap_control", -1, false, {}}));

TEST(GlxSwapGroup, IsJoinedAndBoundOnlyWhenOfferedAndReportsFailure)
{
    driver = offering("GLX_ARB_create_context");
    GlxSwapExtensions without(nullptr, 0, fakeCalls);
    EXPECT_EQ(without.joinSwapGroup(1), std::nullopt);
    EXPECT_EQ(without.bindSwapBarrier(1, 1), std::nullopt);
    EXPECT_TRUE(driver.calls.empty());

    driver = offering("GLX_NV_swap_group");
    GlxSwapExtensions with(nullptr, 0, fakeCalls);
    EXPECT_EQ(with.joinSwapGroup(1), true);
    EXPECT_EQ(with.bindSwapBarrier(1, 1), true);
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"join 1", "bind 1 1"}));

    driver.joinResult = False;
    EXPECT_EQ(with.joinSwapGroup(1), false);
    driver.joinResult = True;
    driver.error = BadMatch; // the call went through but the server refused it
    EXPECT_EQ(with.joinSwapGroup(1), false);
}

TEST(GlxSwapInterval, AnXErrorOrAWrongReadBackIsAFailure)
{
    driver = offering("GLX_EXT_swap_control");
    GlxSwapExtensions extensions(nullptr, 0, fakeCalls);
    driver.error = BadValue;
    EXPECT_EQ(extensions.setSwapInterval(1), false);

    // A driver that takes the call but keeps its old interval has not set it.
    const GlxCalls stubborn = {
        fakeExtensions,
        [](const GLubyte* name) -> __GLXextFuncPtr {
            if (std::strcmp(reinterpret_cast<const char*>(name), "glXSwapIntervalEXT") == 0)
                return reinterpret_cast<__GLXextFuncPtr>(+[](Display*, GLXDrawable, int) {});
            return nullptr;
        },
        fakeQueryDrawable, fakeTakeError};
    driver = offering("GLX_EXT_swap_control");
    driver.interval = 1;
    GlxSwapExtensions unchanged(nullptr, 0, stubborn);
    EXPECT_EQ(unchanged.setSwapInterval(0), false);
}

} // namespace
