#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/System.h>
#include <SharedLib/util/Processors.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

class ProcessorsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        platform::ReleaseProcessAffinity();
        platform::ReleaseTickCount();
    }
};

TEST_F(ProcessorsTest, RealMaskIsNonEmptyAndWithinTheSystemMask)
{
    uint32_t processMask = 0, systemMask = 0;
    ASSERT_TRUE(platform::GetProcessAffinityMask(&processMask, &systemMask));
    EXPECT_NE(processMask, 0u);
    EXPECT_EQ(processMask & ~systemMask, 0u);
    EXPECT_EQ(GetProcessAffinityMask(), processMask);
    uint32_t chosen = ChooseRandomProcessor();
    EXPECT_NE(chosen & processMask, 0u);
    EXPECT_EQ(chosen & (chosen - 1), 0u);  // one bit
}

TEST_F(ProcessorsTest, ChoosesOnlyAllowedProcessorsAndReachesEachOfThem)
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
}

TEST_F(ProcessorsTest, ReseedsRandFromTheTickCountUnlessTheMaskLeavesNoChoice)
{
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

}  // namespace
