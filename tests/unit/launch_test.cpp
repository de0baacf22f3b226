#include "app/launch.h"

#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

// Records what the launcher does with its windows instead of opening real ones.
struct Event
{
    std::string what;
    int32_t x;
    bool started;
    const void* address;
};

std::vector<Event> events;
int32_t threadFailsAtX = -1;
// Making the window at this x throws something other than a thread error.
int32_t makingFailsAtX = -1;
bool makingThrowsNonStandard = false;

class FakeWindow
{
public:
    FakeWindow(int32_t x, int32_t, int32_t, int32_t, char) : x(x)
    {
        if (x == threadFailsAtX)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        if (x == makingFailsAtX && makingThrowsNonStandard)
            throw 42;
        if (x == makingFailsAtX)
            throw std::bad_alloc();
        events.push_back({"create", x, startFlag.load(), this});
    }
    ~FakeWindow() { events.push_back({"destroy", x, startFlag.load(), this}); }

    // Like the real window, it may never be copied or moved: its thread would lose it.
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

private:
    int32_t x;
};

class Launcher : public ::testing::Test
{
protected:
    bool allMade = false;

    void SetUp() override
    {
        events.clear();
        threadFailsAtX = -1;
        makingFailsAtX = -1;
        startFlag = false;
    }

    std::string launch(const std::vector<WindowGroup>& groups)
    {
        StdoutCapture output;
        allMade = runWindows<FakeWindow>(groups, std::chrono::milliseconds(0));
        return output.text();
    }
};

std::vector<WindowGroup> groupsAt(std::vector<int32_t> xs)
{
    std::vector<WindowGroup> groups;
    for (int32_t x : xs)
        groups.push_back({x, 5, 100, 50, 'N'});
    return groups;
}

} // namespace

TEST_F(Launcher, CreatesInOrderBeforeTheStartAndDestroysInReverseAfterIt)
{
    // Enough windows for the container to grow several times.
    std::vector<int32_t> xs;
    for (int32_t x = 0; x < 100; ++x)
        xs.push_back(x);
    EXPECT_EQ(launch(groupsAt(xs)), "finished.\n\n");

    ASSERT_EQ(events.size(), 200u);
    for (size_t i = 0; i < 100; ++i) {
        const Event& created = events[i];
        const Event& destroyed = events[199 - i];
        EXPECT_EQ(created.what, "create");
        EXPECT_EQ(created.x, xs[i]);
        EXPECT_FALSE(created.started);
        EXPECT_EQ(destroyed.what, "destroy");
        EXPECT_EQ(destroyed.x, xs[i]);
        EXPECT_TRUE(destroyed.started);
        EXPECT_EQ(destroyed.address, created.address) << "window " << i << " was moved";
    }
}

TEST_F(Launcher, AWindowWhoseThreadCannotStartIsReportedAndSkipped)
{
    threadFailsAtX = 20;
    const std::string output = launch(groupsAt({10, 20, 30}));

    EXPECT_EQ(output.rfind("window at 20,5 could not start its thread: ", 0), 0u) << output;
    EXPECT_EQ(output.substr(output.find('\n') + 1), "finished.\n\n");
    std::vector<std::pair<std::string, int32_t>> seen;
    for (const Event& event : events)
        seen.emplace_back(event.what, event.x);
    const std::vector<std::pair<std::string, int32_t>> expected = {
        {"create", 10}, {"create", 30}, {"destroy", 30}, {"destroy", 10}};
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(startFlag.load());
}

TEST_F(Launcher, AnErrorWhileMakingWindowsOpensTheGateBeforeTheMadeOnesAreJoined)
{
    for (const bool nonStandard : {false, true}) {
        SetUp();
        makingFailsAtX = 20;
        makingThrowsNonStandard = nonStandard;
        const std::string output = launch(groupsAt({10, 20, 30}));

        const std::string reason = nonStandard ? "unknown error" : std::bad_alloc().what();
        EXPECT_EQ(output, "window at 20,5 could not be made, nor any after it: " + reason +
                              "\nfinished.\n\n");
        EXPECT_FALSE(allMade);
        // The window already made saw the gate open before it was joined (a real window's
        // thread would otherwise wait for it forever), and none after the failure was made.
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].what, "create");
        EXPECT_EQ(events[1].what, "destroy");
        EXPECT_EQ(events[1].x, 10);
        EXPECT_TRUE(events[1].started);
    }
}
