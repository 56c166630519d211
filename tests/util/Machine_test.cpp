#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/System.h>
#include <SharedLib/testing/TestSeams.h>
#include <SharedLib/util/Clock.h>
#include <SharedLib/util/Desktop.h>
#include <SharedLib/util/Processors.h>

// The game clock, the processors and the desktop, over pinned system values.
namespace {

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ReleaseWallClock(); }
};

// Runs first in the process: nothing has set the clock yet.
TEST_F(ClockTest, OffsetFromTheSystemClockStaysAsTimePasses)
{
    // The system clock, the time set if any, the time read. Setting the
    // system clock's own time removes the offset; extreme times wrap instead
    // of overflowing.
    struct Step { int64_t wall; std::optional<int64_t> set; int64_t read; };
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min(), kMax = std::numeric_limits<int64_t>::max();
    for (Step const &step : {Step{1234567890, {}, 1234567890}, {1700000000, 1700003600, 1700003600},
                             {1700000500, {}, 1700004100}, {1700000500, 1700000500, 1700000500},
                             {1700000510, {}, 1700000510}, {1000, kMin, kMin}, {-1000, kMax, kMax}}) {
        platform::PinWallClock(step.wall);
        if (step.set)
            SetSecondsSinceEpoch(*step.set);
        EXPECT_EQ(GetSecondsSinceEpoch(), step.read) << step.wall;
    }

    // Cleanup releases the lock, is harmless twice, and keeps the offset.
    platform::PinWallClock(5000);
    SetSecondsSinceEpoch(6000);
    cleanupSharedTools(), cleanupSharedTools();
    EXPECT_EQ(GetSecondsSinceEpoch(), 6000);
}

TEST_F(ClockTest, SessionIdStepsThirtyPerSecondAndRepeatsEvery1095Days)
{
    platform::PinWallClock(1700000000);
    SetSecondsSinceEpoch(94608000);
    EXPECT_EQ(getTimeSessionId(), 0u);
    platform::PinWallClock(1700000001);
    EXPECT_EQ(getTimeSessionId(), 30u);
    struct Case { int64_t seconds; uint32_t id; };
    // A time before 1970 is taken as an unsigned number.
    for (Case const c : {Case{94608000 - 1, 2838239970u}, Case{2 * 94608000 + 7, 210u},
                         Case{-1, static_cast<uint32_t>(UINT64_MAX % 94608000 * 30)}}) {
        SetSecondsSinceEpoch(c.seconds);
        EXPECT_EQ(getTimeSessionId(), c.id) << c.seconds;
    }
}

class ProcessorsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        platform::ReleaseProcessAffinity();
        platform::ReleaseTickCount();
    }
};

TEST_F(ProcessorsTest, ChoosesAllowedProcessorsAndReseedsRandUnlessTheMaskLeavesNoChoice)
{
    platform::PinProcessAffinity(0xA, 0xF);
    EXPECT_EQ(GetProcessAffinityMask(), 0xAu);
    std::set<uint32_t> seen;
    for (uint32_t tick = 0; tick < 200; ++tick) {
        platform::PinTickCount(tick);
        seen.insert(ChooseRandomProcessor());
    }
    EXPECT_EQ(seen, (std::set<uint32_t>{0x2, 0x8}));

    platform::PinProcessAffinity(0x80000000u, 0xFFFFFFFFu);
    EXPECT_EQ(ChooseRandomProcessor(), 0x80000000u);
    platform::PinProcessAffinity(0xFFFF, 0xFFFF);
    platform::PinTickCount(4242);
    uint32_t first = ChooseRandomProcessor();
    int after = std::rand();
    std::rand();
    EXPECT_EQ(ChooseRandomProcessor(), first);
    EXPECT_EQ(std::rand(), after);

    std::srand(7);
    int const expected = std::rand();
    for (uint32_t mask : {0u, 1u}) {
        platform::PinProcessAffinity(mask, 1);
        std::srand(7);
        EXPECT_EQ(ChooseRandomProcessor(), mask);
        EXPECT_EQ(std::rand(), expected);
    }
}

class DesktopTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ResetDisplayMonitors(); }

    static int32_t onDesktop(int32_t left, int32_t top, int32_t right, int32_t bottom)
    {
        RECT rect{left, top, right, bottom};
        return rectIsOnDesktop(&rect);
    }
};

struct Rect { int32_t left, top, right, bottom, onDesktop; };

TEST_F(DesktopTest, DefaultScreenCountsAnOverlapOfOnePixel)
{
    EXPECT_EQ(std::pair(platform::GetSystemMetrics(platform::SM_CXSCREEN),
                        platform::GetSystemMetrics(platform::SM_CYSCREEN)), std::pair(1920, 1080));
    // The right edge lies just outside; an empty rectangle is nowhere.
    for (Rect r : {Rect{-100, -100, 1, 1, 1}, {1919, 1079, 3000, 3000, 1}, {-300, 0, 0, 100, 0},
                   {1920, 0, 2000, 100, 0}, {0, 1080, 100, 1200, 0}, {10, 10, 10, 20, 0},
                   {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1}})
        EXPECT_EQ(onDesktop(r.left, r.top, r.right, r.bottom), r.onDesktop) << r.left << "," << r.top;
    EXPECT_EQ(rectIsOnDesktop(nullptr), 0);
}

TEST_F(DesktopTest, SecondMonitorAndMonitorFromRect)
{
    platform::SetDisplayMonitors({{0, 0, 1280, 720, true}, {-1024, 0, 0, 768, false}});
    // Below the second monitor is left of the primary.
    for (Rect r : {Rect{-500, 100, -400, 200, 1}, {-2000, 0, -1024, 100, 0}, {-500, 768, -400, 800, 0},
                   {1279, 719, 1400, 800, 1}})
        EXPECT_EQ(onDesktop(r.left, r.top, r.right, r.bottom), r.onDesktop) << r.left << "," << r.top;
    // Without them only the primary screen's area counts.
    platform::SetMonitorFunctionsAvailable(false);
    for (Rect r : {Rect{-500, 100, -400, 200, 0}, {1279, 719, 1400, 800, 1}, {1280, 0, 1400, 100, 0},
                   {0, 720, 100, 800, 0}})
        EXPECT_EQ(onDesktop(r.left, r.top, r.right, r.bottom), r.onDesktop) << r.left << "," << r.top;
    platform::SetDisplayMonitors({{0, 0, 100, 100, false}, {100, 0, 200, 100, true}});
    EXPECT_EQ(std::pair(platform::GetSystemMetrics(platform::SM_CXSCREEN),
                        platform::GetSystemMetrics(platform::SM_CMONITORS)), std::pair(100, 2));
    // The left edge of the monitor picked, -1 for none.
    auto picked = [](int32_t left, int32_t right, uint32_t fallback) {
        platform::DisplayMonitor info{};
        return platform::GetMonitorRect(platform::MonitorFromRect(left, 0, right, 10, fallback), &info) ? info.left : -1;
    };
    EXPECT_EQ(picked(90, 150, 0), 100);
    EXPECT_EQ(picked(-50, -40, platform::MONITOR_DEFAULTTOPRIMARY), 100);
    EXPECT_EQ(picked(-50, -40, platform::MONITOR_DEFAULTTONEAREST), 0);
    EXPECT_EQ(platform::MonitorFromRect(-50, 0, -40, 10, platform::MONITOR_DEFAULTTONULL), platform::NO_MONITOR);

    platform::SetDisplayMonitors({});
    EXPECT_EQ(std::pair(onDesktop(0, 0, 10, 10), platform::GetSystemMetrics(platform::SM_CXSCREEN)), std::pair(0, 0));
}

}  // namespace
