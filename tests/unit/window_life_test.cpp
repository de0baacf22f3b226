#include "window/window_life.h"

#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

bool globalMutexIsHeldElsewhere();

// Whether the last swap set-up ran with globalMutex held.
bool swapSetUpUnderMutex = false;

class AcceptingSwapExtensions : public SwapExtensions
{
public:
    std::optional<bool> joinSwapGroup(unsigned) override { return std::nullopt; }
    std::optional<bool> bindSwapBarrier(unsigned, unsigned) override { return std::nullopt; }
    std::optional<bool> setSwapInterval(int) override
    {
        swapSetUpUnderMutex = globalMutexIsHeldElsewhere();
        return true;
    }
};

bool globalMutexIsHeldElsewhere()
{
    return !std::async(std::launch::async, [] {
                if (!globalMutex.try_lock())
                    return false;
                globalMutex.unlock();
                return true;
            }).get();
}

// Plays a platform window: set-up succeeds unless a problem is given, and the window is closed
// after a given number of frames.
struct FakeNativeWindow
{
    int32_t x = 7, y = -3, width = 100, height = 50;
    std::string problem;
    int framesUntilClosed = 0;

    std::vector<std::string> steps;
    std::vector<double> frameTimes;
    std::vector<std::string> frameSteps;
    std::vector<double> clearTimes;
    std::atomic<bool> shown{false};
    bool mutexHeldDuringSetUp = false;

    std::string createWindowAndContext()
    {
        steps.push_back("create");
        mutexHeldDuringSetUp = globalMutexIsHeldElsewhere();
        return problem;
    }
    AcceptingSwapExtensions swapExtensions() const { return {}; }
    void show()
    {
        steps.push_back("show");
        shown = true;
    }
    bool handleEvents() { return framesUntilClosed-- > 0; }
    void clearFrame()
    {
        frameSteps.push_back("clear");
        clearTimes.push_back(nanosecondsToSeconds(monotonicNanoseconds()));
    }
    void presentFrame(double t)
    {
        frameSteps.push_back("present");
        frameTimes.push_back(t);
    }
    void tearDown() { steps.push_back("tear down"); }
};

class WindowLife : public ::testing::Test
{
protected:
    void SetUp() override { startFlag = false; }
    void TearDown() override { startFlag = true; }

    // Runs the window's life on a thread of its own, as the real windows do.
    std::future<void> start(FakeNativeWindow& window, char mode)
    {
        return std::async(std::launch::async, [&window, mode] { runWindowLife(window, mode); });
    }
};

} // namespace

TEST_F(WindowLife, AWindowThatCannotBeSetUpSaysWhyAndEndsWithoutWaitingForTheStart)
{
    StdoutCapture output;
    FakeNativeWindow window;
    window.problem = "GetDC failed (error 6)";
    std::future<void> life = start(window, 'V');

    ASSERT_EQ(life.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the window waited for the start";
    EXPECT_EQ(window.steps, (std::vector<std::string>{"create", "tear down"}));
    EXPECT_TRUE(window.mutexHeldDuringSetUp);
    EXPECT_TRUE(window.frameTimes.empty());
    EXPECT_EQ(output.text(), "window at 7,-3 could not be set up: GetDC failed (error 6)\n");
}

TEST_F(WindowLife, AWindowIsShownAtTheStartAndDrawsUntilItIsClosed)
{
    StdoutCapture output;
    FakeNativeWindow window;
    window.framesUntilClosed = 250;
    std::future<void> life = start(window, 'N');

    EXPECT_EQ(life.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_FALSE(window.shown) << "shown before the start";
    startFlag = true;
    life.get();

    EXPECT_EQ(window.steps, (std::vector<std::string>{"create", "show", "tear down"}));
    EXPECT_TRUE(window.mutexHeldDuringSetUp);
    EXPECT_TRUE(swapSetUpUnderMutex);
    ASSERT_EQ(window.frameTimes.size(), 250u);
    for (size_t i = 1; i < window.frameTimes.size(); ++i)
        EXPECT_LE(window.frameTimes[i - 1], window.frameTimes[i]) << "the shared clock went back";
    // Every frame is cleared, then drawn for a time read after the clear.
    ASSERT_EQ(window.frameSteps.size(), 500u);
    for (size_t i = 0; i < window.frameTimes.size(); ++i) {
        EXPECT_EQ(window.frameSteps[2 * i], "clear");
        EXPECT_EQ(window.frameSteps[2 * i + 1], "present");
        EXPECT_GE(window.frameTimes[i], window.clearTimes[i]) << "time read before the clear";
    }

    // The set-up line, then a report after frames 100 and 200.
    const std::string text = output.text();
    EXPECT_EQ(text.rfind("window at 7,-3 set swap interval 0\n", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    size_t reports = 0;
    for (size_t at = text.find(" refreshes at "); at != std::string::npos;
         at = text.find(" refreshes at ", at + 1))
        ++reports;
    EXPECT_EQ(reports, 2u);
    // The meter starts once the window is shown: the wait at the start gate (100 ms and more
    // above) is in no interval, so even the first report's slowest frame is quick.
    const size_t minimum = text.find("(min. ") + 6;
    EXPECT_GT(std::stod(text.substr(minimum)), 50.0) << text;
}
