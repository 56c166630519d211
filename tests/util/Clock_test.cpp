#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/util/Clock.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ReleaseWallClock(); }
};

// Runs first in the process: nothing has set the clock yet.
TEST_F(ClockTest, OffsetFromTheSystemClockStaysAsTimePasses)
{
    platform::PinWallClock(1234567890);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1234567890);
    platform::PinWallClock(1700000000);
    SetSecondsSinceEpoch(1700000000 + 3600);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700003600);
    platform::PinWallClock(1700000500);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700004100);
    // Setting it back to the system clock removes the offset.
    SetSecondsSinceEpoch(1700000500);
    platform::PinWallClock(1700000510);
    EXPECT_EQ(GetSecondsSinceEpoch(), 1700000510);

    // Extreme times wrap instead of overflowing.
    platform::PinWallClock(1000);
    SetSecondsSinceEpoch(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(GetSecondsSinceEpoch(), std::numeric_limits<int64_t>::min());
    platform::PinWallClock(-1000);
    SetSecondsSinceEpoch(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(GetSecondsSinceEpoch(), std::numeric_limits<int64_t>::max());

    // Cleanup releases the lock, is harmless twice, and keeps the offset.
    platform::PinWallClock(5000);
    SetSecondsSinceEpoch(6000);
    cleanupSharedTools();
    cleanupSharedTools();
    EXPECT_EQ(GetSecondsSinceEpoch(), 6000);
}

TEST_F(ClockTest, SessionIdStepsThirtyPerSecondAndRepeatsEvery1095Days)
{
    platform::PinWallClock(1700000000);
    SetSecondsSinceEpoch(94608000);
    EXPECT_EQ(getTimeSessionId(), 0u);
    platform::PinWallClock(1700000001);
    EXPECT_EQ(getTimeSessionId(), 30u);
    struct Case {
        int64_t seconds;
        uint32_t id;
    };
    // A time before 1970 is taken as an unsigned number.
    for (Case const c : {Case{94608000 - 1, 2838239970u}, Case{2 * 94608000 + 7, 210u},
                         Case{-1, static_cast<uint32_t>(UINT64_MAX % 94608000 * 30)}}) {
        SetSecondsSinceEpoch(c.seconds);
        EXPECT_EQ(getTimeSessionId(), c.id) << c.seconds;
    }
}

}  // namespace
