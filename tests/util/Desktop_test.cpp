#include <gtest/gtest.h>

#include <climits>

#include <SharedLib/platform/System.h>
#include <SharedLib/util/Desktop.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

class DesktopTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ResetDisplayMonitors(); }

    static int32_t onDesktop(int32_t left, int32_t top, int32_t right, int32_t bottom)
    {
        RECT rect{left, top, right, bottom};
        return rectIsOnDesktop(&rect);
    }
};

struct Rect {
    int32_t left, top, right, bottom, onDesktop;
};

TEST_F(DesktopTest, DefaultScreenCountsAnOverlapOfOnePixel)
{
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CXSCREEN), 1920);
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CYSCREEN), 1080);
    // The right edge lies just outside; an empty rectangle is nowhere.
    for (Rect r : {Rect{-100, -100, 1, 1, 1}, {1919, 1079, 3000, 3000, 1}, {-300, 0, 0, 100, 0},
                   {1920, 0, 2000, 100, 0}, {0, 1080, 100, 1200, 0}, {10, 10, 10, 20, 0},
                   {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1}})
        EXPECT_EQ(onDesktop(r.left, r.top, r.right, r.bottom), r.onDesktop) << r.left << "," << r.top;
    EXPECT_EQ(rectIsOnDesktop(nullptr), 0);
}

TEST_F(DesktopTest, SecondMonitorCountsOnlyWithTheMonitorFunctions)
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
}

TEST_F(DesktopTest, MonitorFromRectPicksTheLargestOverlapOrTheFallback)
{
    platform::SetDisplayMonitors({{0, 0, 100, 100, false}, {100, 0, 200, 100, true}});
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CXSCREEN), 100);
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CMONITORS), 2);
    platform::DisplayMonitor info{};
    ASSERT_TRUE(platform::GetMonitorRect(platform::MonitorFromRect(90, 0, 150, 10, 0), &info));
    EXPECT_EQ(info.left, 100);
    ASSERT_TRUE(platform::GetMonitorRect(platform::MonitorFromRect(-50, 0, -40, 10, platform::MONITOR_DEFAULTTOPRIMARY),
                                         &info));
    EXPECT_TRUE(info.primary);
    ASSERT_TRUE(platform::GetMonitorRect(
        platform::MonitorFromRect(-50, 0, -40, 10, platform::MONITOR_DEFAULTTONEAREST), &info));
    EXPECT_EQ(info.left, 0);
    EXPECT_EQ(platform::MonitorFromRect(-50, 0, -40, 10, platform::MONITOR_DEFAULTTONULL), platform::NO_MONITOR);

    platform::SetDisplayMonitors({});
    EXPECT_EQ(onDesktop(0, 0, 10, 10), 0);
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CXSCREEN), 0);
}

}  // namespace
