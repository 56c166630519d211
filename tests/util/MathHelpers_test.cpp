#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <math.h>
#include <string>

#include <SharedLib/util/MathHelpers.h>

#include "support/LogCapture.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kTwoPi = 6.2831855f;

float rotated(float angle, float period)
{
    validateRotation(angle, period);
    return angle;
}

float constrained(float angle, float limit)
{
    constrainAngle(angle, limit);
    return angle;
}

TEST(Interpolate, BothArgumentOrdersAgreeAndExtrapolate)
{
    EXPECT_EQ(interpolate(2.0f, 4.0f, 0.25f), 2.5f);
    EXPECT_EQ(SharedMath::lerp(0.25f, 2.0f, 4.0f), 2.5f);
    EXPECT_EQ(interpolate(2.0f, 4.0f, 1.5f), 5.0f);
    // The span -16777219 is stored as the float -16777220 before scaling
    // (exact arithmetic would give 8388606.5).
    EXPECT_EQ(interpolate(16777216.0f, -3.0f, 0.5f), 8388606.0f);
}

TEST(AngleConventions, NegateAndAreTheirOwnInverse)
{
    EXPECT_EQ(caribbeanAngleToWorld(1.25f), -1.25f);
    EXPECT_EQ(worldAngleToCaribbean(-3.0f), 3.0f);
    EXPECT_EQ(worldAngleToCaribbean(caribbeanAngleToWorld(0.7f)), 0.7f);
}

TEST(ConstrainAngle, ClampsToTheLimitBothWays)
{
    EXPECT_EQ(constrained(4.0f, 3.0f), 3.0f);
    EXPECT_EQ(constrained(-4.0f, 3.0f), -3.0f);
    EXPECT_EQ(constrained(2.0f, 3.0f), 2.0f);
    EXPECT_EQ(constrained(kInf, 3.0f), 3.0f);
    EXPECT_TRUE(std::isnan(constrained(kNaN, 3.0f)));
    EXPECT_EQ(constrained(2.0f, kNaN), 2.0f);
}

TEST(ValidateRotation, StepsByWholePeriodsIntoTheInclusiveRange)
{
    EXPECT_EQ(rotated(7.0f, 2.0f), 1.0f);
    EXPECT_EQ(rotated(-5.0f, 2.0f), -1.0f);
    EXPECT_EQ(rotated(2.0f, 2.0f), 2.0f);
    EXPECT_EQ(rotated(6.0f, 2.0f), 2.0f);  // not folded to 0
    EXPECT_EQ(rotated(-1.5f * kTwoPi, kTwoPi), -1.5f * kTwoPi + kTwoPi);
    // Each step is stored in single precision, so the result is that of the
    // float loop, not the exact remainder.
    float stepped = 10.0f;
    while (stepped > 0.1f)
        stepped -= 0.1f;
    EXPECT_EQ(rotated(10.0f, 0.1f), stepped);
}

// The rule itself: one single-precision step at a time.
float steppedOneByOne(float angle, float period)
{
    volatile float value = angle;  // every step stored as a float
    while (value > period)
        value = value - period;
    while (value < -period)
        value = value + period;
    return value;
}

TEST(ValidateRotation, ManyStepsGiveTheStepwiseResult)
{
    struct Case {
        float angle, period, stepped;
    };
    // Computed by stepping one period at a time (up to 15 million steps).
    Case const cases[] = {
        {7000.0f, 0.1f, 0x1.66969p-6f},  // 0.0218864828
        {-7000.0f, 0.1f, -0x1.66969p-6f},
        {1000.0f, 0.3f, 0x1.070908p-3f},  // 0.128435194
        {16779218.0f, 3.0f, 1.0f},  // halfway steps of 1.5 ulp
        {-16779218.0f, 3.0f, -1.0f},
        {30000000.0f, 3.0f, 1.0f},
        {10000000.0f, 0.7f, 0x1.13d73ap-1f},  // 0.538751423
        {8388609.0f, 0.75f, 0.25f},
        {123456.703f, 1.0f, 0.703125f},
        {0x1.16c2p-133f, 0x1.0bap-138f, 0x1.628p-140f},  // subnormal
        {100.0f, kTwoPi, 0x1.70243ap+2f},
    };
    for (Case const &c : cases)
        EXPECT_EQ(rotated(c.angle, c.period), c.stepped) << c.angle << " " << c.period;

    // Angles and periods of every scale; every third period is an odd
    // number of half ulps of the angle, so that its steps land halfway.
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 300; ++i) {
        float const angle = std::ldexp(1.0f + static_cast<float>(next() % 8388608u) / 8388608.0f,
                                       static_cast<int>(next() % 60u) - 30);
        float period = angle / static_cast<float>(next() % 20000u + 1u);
        if (i % 3 == 0)
            period = std::ldexp(static_cast<float>(2u * (next() % 4096u + 64u) + 1u), std::ilogb(angle) - 24);
        float const sign = i % 2 == 0 ? 1.0f : -1.0f;
        EXPECT_EQ(rotated(sign * angle, period), steppedOneByOne(sign * angle, period))
            << std::hexfloat << sign * angle << " " << period;
    }
}

TEST(ValidateRotation, FarAnglesReturnQuicklyInRange)
{
    // Whole multiples far out come back to the period itself.
    EXPECT_EQ(rotated(131072.0f, 2.0f), 2.0f);
    EXPECT_EQ(rotated(131074.0f, 2.0f), 2.0f);
    EXPECT_EQ(rotated(200001.0f, 2.0f), 1.0f);
    EXPECT_EQ(rotated(-200001.0f, 2.0f), -1.0f);
    // Here a single float step would no longer change the angle.
    for (float angle : {1e30f, -1e30f, std::numeric_limits<float>::max(), 3e9f}) {
        float const result = rotated(angle, kTwoPi);
        EXPECT_LE(std::fabs(result), kTwoPi) << angle;
        EXPECT_NE(result, 0.0f) << angle;
    }
    EXPECT_LE(std::fabs(rotated(1.0f, std::numeric_limits<float>::denorm_min())), 1e-44f);
}

TEST(ValidateRotation, UnusableArgumentsLeaveTheAngleAlone)
{
    EXPECT_EQ(rotated(kInf, kTwoPi), kInf);
    EXPECT_EQ(rotated(-kInf, kTwoPi), -kInf);
    EXPECT_TRUE(std::isnan(rotated(kNaN, kTwoPi)));
    EXPECT_EQ(rotated(7.0f, 0.0f), 7.0f);
    EXPECT_EQ(rotated(7.0f, -2.0f), 7.0f);
    EXPECT_EQ(rotated(7.0f, kNaN), 7.0f);
    EXPECT_EQ(rotated(7.0f, kInf), 7.0f);
}

TEST(Round, HalvesGoUpUnlikeTheCLibrary)
{
    EXPECT_EQ(SharedMath::roundf(2.5f), 3.0f);
    EXPECT_EQ(SharedMath::roundf(-2.5f), -2.0f);
    EXPECT_EQ(::roundf(-2.5f), -3.0f);  // the C library's is untouched
    EXPECT_EQ(SharedMath::roundf(0.49999997f), 1.0f);  // the sum rounds to 1
    EXPECT_EQ(SharedMath::roundf(-0.5f), 0.0f);
    EXPECT_EQ(SharedMath::roundf(16777215.0f), 16777216.0f);  // 2^24 - 1 + 0.5 rounds up
    EXPECT_EQ(SharedMath::roundf(kInf), kInf);
    EXPECT_TRUE(std::isnan(SharedMath::roundf(kNaN)));

    EXPECT_EQ(SharedMath::round(2.5f), 3);
    EXPECT_EQ(SharedMath::round(-2.5f), -2);
    EXPECT_EQ(SharedMath::round(-2.6f), -3);
    EXPECT_EQ(SharedMath::round(2147483520.0f), 2147483520);  // largest float below 2^31
    EXPECT_EQ(SharedMath::round(-2147483648.0f), INT32_MIN);
}

TEST(Round, OutOfRangeSaturatesAndNaNIsZero)
{
    EXPECT_EQ(SharedMath::round(2147483648.0f), INT32_MAX);
    EXPECT_EQ(SharedMath::round(kInf), INT32_MAX);
    EXPECT_EQ(SharedMath::round(-2147483904.0f), INT32_MIN);
    EXPECT_EQ(SharedMath::round(-kInf), INT32_MIN);
    EXPECT_EQ(SharedMath::round(kNaN), 0);
}

TEST(MakeRatioSShaped, FollowsTheCurve)
{
    EXPECT_EQ(makeRatioSShaped(0.5f), 0.5f);
    // The reference values are given to seven decimals.
    EXPECT_NEAR(makeRatioSShaped(1.0f), 1.0013733, 5e-8);
    EXPECT_NEAR(makeRatioSShaped(0.1f), 0.0141865, 5e-8);
    EXPECT_NEAR(makeRatioSShaped(0.25f), 0.0589133, 5e-8);
    EXPECT_NEAR(makeRatioSShaped(0.75f), 0.9410866, 5e-8);
    EXPECT_NEAR(makeRatioSShaped(0.9f), 0.9858135, 5e-8);
    // Symmetric about 0.5 up to single-precision rounding.
    EXPECT_NEAR(makeRatioSShaped(0.3f) + makeRatioSShaped(0.7f), 1.0f, 2e-7f);
    EXPECT_EQ(makeRatioSShaped(0.0f), 0.0f);
    EXPECT_EQ(makeRatioSShaped(0.0106f), 0.0f);
    EXPECT_GT(makeRatioSShaped(0.011f), 0.0f);
    EXPECT_NEAR(makeRatioSShaped(1e30f), 1.0655f, 1e-4f);
    EXPECT_LT(makeRatioSShaped(kInf), 1.066f);
    EXPECT_TRUE(std::isnan(makeRatioSShaped(kNaN)));
}

class GetChanceTest : public LogCaptureTest {};

TEST_F(GetChanceTest, IsTheChanceOfAtLeastOneSuccess)
{
    EXPECT_NEAR(getChance(0.1f, 1.0f, 1.0f, 1.0f), 0.1f, 1e-6f);
    EXPECT_NEAR(getChance(0.1f, 1.0f, 2.0f, 1.0f), 0.19f, 1e-6f);
    EXPECT_EQ(getChance(0.5f, 1.0f, 3.0f, 1.0f), 0.875f);
    EXPECT_EQ(getChance(0.0f, 1.0f, 5.0f, 1.0f), 0.0f);
    // Scaled to maxChance 2: 2 * (1 - 0.5^(3 / 2)).
    EXPECT_NEAR(getChance(0.5f, 1.0f, 3.0f, 2.0f), 2.0f * (1.0f - std::sqrt(0.125f)), 1e-6f);
    EXPECT_TRUE(texts().empty());
}

TEST_F(GetChanceTest, ChanceAtTheMaximumIsReturnedDirectly)
{
    EXPECT_EQ(getChance(1.0f, 0.0f, 0.0f, 1.0f), 1.0f);
    EXPECT_EQ(getChance(2.0f, 1.0f, 1.0f, 1.0f), 1.0f);
    EXPECT_EQ(getChance(0.0f, 1.0f, 1.0f, 0.0f), 0.0f);
}

TEST_F(GetChanceTest, NegativeChanceIsLoggedOnceAndTreatedAsZero)
{
    EXPECT_EQ(getChance(-0.25f, 1.0f, 3.0f, 1.0f), 0.0f);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].severity, LogSev_Error);
    EXPECT_EQ(lines()[0].channel, 0);
    EXPECT_NE(lines()[0].text.find("fChancePerUnit is -0.250000.  It's valid range is [0,1.000000)."),
              std::string::npos)
        << lines()[0].text;
}

TEST_F(GetChanceTest, ArgumentsOutsideTheModelGiveNumbers)
{
    EXPECT_EQ(getChance(1.0f, 1.0f, 1.0f, 2.0f), 2.0f);    // certain per unit
    EXPECT_EQ(getChance(1.5f, 1.0f, 0.5f, 2.0f), 2.0f);    // the power would be NaN
    EXPECT_EQ(getChance(0.5f, 0.0f, 1.0f, 1.0f), 1.0f);    // infinitely many tries
    EXPECT_EQ(getChance(0.5f, 0.0f, 0.0f, 1.0f), 0.0f);    // 0 / 0 tries
    EXPECT_EQ(getChance(kNaN, 1.0f, 1.0f, 1.0f), 0.0f);
    EXPECT_TRUE(texts().empty());
}

TEST(ClosestPowerOfTwo, PicksTheNearerPowerWithTiesDown)
{
    EXPECT_EQ(closestPowerOfTwo(1), 1);
    EXPECT_EQ(closestPowerOfTwo(0), 1);
    EXPECT_EQ(closestPowerOfTwo(-5), 1);
    EXPECT_EQ(closestPowerOfTwo(2), 2);
    EXPECT_EQ(closestPowerOfTwo(3), 2);
    EXPECT_EQ(closestPowerOfTwo(6), 4);
    EXPECT_EQ(closestPowerOfTwo(7), 8);
    EXPECT_EQ(closestPowerOfTwo(12), 8);
    EXPECT_EQ(closestPowerOfTwo(6145), 8192);
    EXPECT_EQ(closestPowerOfTwo(8192), 8192);
    EXPECT_EQ(closestPowerOfTwo(100000), 8192);
    EXPECT_EQ(closestPowerOfTwo(INT32_MAX), 8192);
}

}  // namespace
