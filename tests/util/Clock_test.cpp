#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/util/Clock.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ReleaseWallClock(); }
};

// Runs first in the process: nothing has set the clock yet.
TEST_F(ClockTest, FollowsTheSystemClockUntilSet)
{
    platform::PinWallClock(1234567890);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1234567890);
    platform::PinWallClock(1234567999);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1234567999);
}

TEST_F(ClockTest, OffsetStaysAsTimePasses)
{
    platform::PinWallClock(1700000000);
    SetSecondsSinceEpoch(1700000000 + 3600);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700003600);
    platform::PinWallClock(1700000500);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700004100);

    // Setting it back to the system clock removes the offset.
    SetSecondsSinceEpoch(1700000500);
    platform::PinWallClock(1700000510);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700000510);
}

TEST_F(ClockTest, ExtremeTimesWrapInsteadOfOverflowing)
{
    platform::PinWallClock(1000);
    SetSecondsSinceEpoch(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(GetSecondsSinceEpoch(), std::numeric_limits<int64_t>::min());
    platform::PinWallClock(-1000);
    SetSecondsSinceEpoch(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(GetSecondsSinceEpoch(), std::numeric_limits<int64_t>::max());
}

TEST_F(ClockTest, SessionIdStepsThirtyPerSecondAndRepeatsEvery1095Days)
{
    platform::PinWallClock(1700000000);
    SetSecondsSinceEpoch(94608000);
    EXPECT_EQ(getTimeSessionId(), 0u);
    platform::PinWallClock(1700000001);
    EXPECT_EQ(getTimeSessionId(), 30u);

    SetSecondsSinceEpoch(94608000 - 1);
    EXPECT_EQ(getTimeSessionId(), 2838239970u);
    SetSecondsSinceEpoch(2 * 94608000 + 7);
    EXPECT_EQ(getTimeSessionId(), 210u);
    // A time before 1970 is taken as an unsigned number.
    SetSecondsSinceEpoch(-1);
    EXPECT_EQ(getTimeSessionId(), static_cast<uint32_t>(UINT64_MAX % 94608000 * 30));
}

TEST_F(ClockTest, ConcurrentSettersAndReadersSeeWholeValues)
{
    platform::PinWallClock(0);
    SetSecondsSinceEpoch(100);
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0)
                    SetSecondsSinceEpoch(t == 0 ? 100 : 200);
                int64_t now = GetSecondsSinceEpoch();
                if (now != 100 && now != 200)
                    bad = true;
            }
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_FALSE(bad);
}

TEST_F(ClockTest, CleanupReleasesTheLockAndIsHarmlessTwice)
{
    platform::PinWallClock(5000);
    SetSecondsSinceEpoch(6000);
    cleanupSharedTools();
    cleanupSharedTools();
    // A later first use creates the lock again; the offset is kept.
    EXPECT_EQ(GetSecondsSinceEpoch(), 6000);
}

}  // namespace
