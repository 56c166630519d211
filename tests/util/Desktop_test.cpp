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

TEST_F(DesktopTest, DefaultScreenCountsAnOverlapOfOnePixel)
{
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CXSCREEN), 1920);
    EXPECT_EQ(platform::GetSystemMetrics(platform::SM_CYSCREEN), 1080);
    EXPECT_EQ(onDesktop(-100, -100, 1, 1), 1);
    EXPECT_EQ(onDesktop(1919, 1079, 3000, 3000), 1);
    EXPECT_EQ(onDesktop(-300, 0, 0, 100), 0);  // right edge lies just outside
    EXPECT_EQ(onDesktop(1920, 0, 2000, 100), 0);
    EXPECT_EQ(onDesktop(0, 1080, 100, 1200), 0);
    EXPECT_EQ(onDesktop(10, 10, 10, 20), 0);  // empty
    EXPECT_EQ(onDesktop(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), 1);
    EXPECT_EQ(rectIsOnDesktop(nullptr), 0);
}

TEST_F(DesktopTest, SecondMonitorCountsOnlyWithTheMonitorFunctions)
{
    platform::SetDisplayMonitors({{0, 0, 1280, 720, true}, {-1024, 0, 0, 768, false}});
    EXPECT_EQ(onDesktop(-500, 100, -400, 200), 1);
    EXPECT_EQ(onDesktop(-2000, 0, -1024, 100), 0);
    EXPECT_EQ(onDesktop(-500, 768, -400, 800), 0);  // below the second, left of the primary
    EXPECT_EQ(onDesktop(1279, 719, 1400, 800), 1);

    // Without them only the primary screen's area counts.
    platform::SetMonitorFunctionsAvailable(false);
    EXPECT_EQ(onDesktop(-500, 100, -400, 200), 0);
    EXPECT_EQ(onDesktop(1279, 719, 1400, 800), 1);
    EXPECT_EQ(onDesktop(1280, 0, 1400, 100), 0);
    EXPECT_EQ(onDesktop(0, 720, 100, 800), 0);
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
