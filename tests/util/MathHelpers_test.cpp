#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <math.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

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

TEST(SmallHelpers, InterpolateAnglesAndPowersOfTwo)
{
    // The span -16777219 is stored as the float -16777220 before scaling
    // (exact arithmetic would give 8388606.5).
    EXPECT_EQ((std::vector<float>{interpolate(2.0f, 4.0f, 0.25f), SharedMath::lerp(0.25f, 2.0f, 4.0f),
                                  interpolate(2.0f, 4.0f, 1.5f), interpolate(16777216.0f, -3.0f, 0.5f),
                                  caribbeanAngleToWorld(1.25f), worldAngleToCaribbean(-3.0f)}),
              (std::vector<float>{2.5f, 2.5f, 5.0f, 8388606.0f, -1.25f, 3.0f}));

    // constrainAngle clamps to the limit both ways.
    for (auto [angle, limit, expected] : {std::tuple{4.0f, 3.0f, 3.0f}, {-4.0f, 3.0f, -3.0f}, {2.0f, 3.0f, 2.0f},
                                          {kInf, 3.0f, 3.0f}, {2.0f, kNaN, 2.0f}}) {
        constrainAngle(angle, limit);
        EXPECT_EQ(angle, expected);
    }
    float nan = kNaN;
    constrainAngle(nan, 3.0f);
    EXPECT_TRUE(std::isnan(nan));

    // The nearer power with ties down, within 1 .. 8192.
    int32_t const powers[][2] = {{1, 1},   {0, 1},       {-5, 1},       {2, 2},         {3, 2},
                                 {6, 4},   {7, 8},       {12, 8},       {6145, 8192},   {8192, 8192},
                                 {100000, 8192}, {INT32_MAX, 8192}};
    for (auto const &p : powers)
        EXPECT_EQ(closestPowerOfTwo(p[0]), p[1]) << p[0];
}

TEST(ValidateRotation, StepsByWholePeriodsLikeTheFloatLoop)
{
    struct Case { float angle, period, stepped; };
    // Computed by stepping one period at a time (up to 15 million steps).
    Case const cases[] = {
        {7.0f, 2.0f, 1.0f}, {-5.0f, 2.0f, -1.0f}, {2.0f, 2.0f, 2.0f},
        {6.0f, 2.0f, 2.0f},  // into the inclusive range, not folded to 0
        {-1.5f * kTwoPi, kTwoPi, -1.5f * kTwoPi + kTwoPi},
        {7000.0f, 0.1f, 0x1.66969p-6f}, {-7000.0f, 0.1f, -0x1.66969p-6f},  // 0.0218864828
        {1000.0f, 0.3f, 0x1.070908p-3f},  // 0.128435194
        {16779218.0f, 3.0f, 1.0f}, {-16779218.0f, 3.0f, -1.0f}, {30000000.0f, 3.0f, 1.0f},  // halfway steps of 1.5 ulp
        {10000000.0f, 0.7f, 0x1.13d73ap-1f},  // 0.538751423
        {8388609.0f, 0.75f, 0.25f}, {123456.703f, 1.0f, 0.703125f},
        {0x1.16c2p-133f, 0x1.0bap-138f, 0x1.628p-140f},  // subnormal
        {100.0f, kTwoPi, 0x1.70243ap+2f},
        // Whole multiples far out come back to the period itself.
        {131072.0f, 2.0f, 2.0f}, {131074.0f, 2.0f, 2.0f}, {200001.0f, 2.0f, 1.0f}, {-200001.0f, 2.0f, -1.0f},
        // Unusable arguments leave the angle alone.
        {kInf, kTwoPi, kInf}, {-kInf, kTwoPi, -kInf}, {7.0f, 0.0f, 7.0f}, {7.0f, -2.0f, 7.0f},
        {7.0f, kNaN, 7.0f}, {7.0f, kInf, 7.0f},
    };
    for (Case const &c : cases)
        EXPECT_EQ(rotated(c.angle, c.period), c.stepped) << c.angle << " " << c.period;
    EXPECT_EQ(rotated(10.0f, 0.1f), steppedOneByOne(10.0f, 0.1f));
    EXPECT_TRUE(std::isnan(rotated(kNaN, kTwoPi)));

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

    // Where a single float step no longer changes the angle, it still ends in range.
    for (float angle : {1e30f, -1e30f, std::numeric_limits<float>::max(), 3e9f}) {
        float const result = rotated(angle, kTwoPi);
        EXPECT_LE(std::fabs(result), kTwoPi) << angle;
        EXPECT_NE(result, 0.0f) << angle;
    }
    EXPECT_LE(std::fabs(rotated(1.0f, std::numeric_limits<float>::denorm_min())), 1e-44f);
}

TEST(Round, HalvesGoUpAndOutOfRangeSaturates)
{
    for (auto [x, rounded] : {std::pair{2.5f, 3.0f}, {-2.5f, -2.0f}, {-0.5f, 0.0f}, {kInf, kInf},
                              {0.49999997f, 1.0f},  // the sum rounds to 1
                              {16777215.0f, 16777216.0f}})  // 2^24 - 1 + 0.5 rounds up
        EXPECT_EQ(SharedMath::roundf(x), rounded) << x;
    EXPECT_EQ(::roundf(-2.5f), -3.0f);  // the C library's is untouched
    EXPECT_TRUE(std::isnan(SharedMath::roundf(kNaN)));

    for (auto [x, rounded] : {std::pair{2.5f, 3}, {-2.5f, -2}, {-2.6f, -3}, {kNaN, 0},
                              {2147483520.0f, 2147483520},  // largest float below 2^31
                              {-2147483648.0f, INT32_MIN}, {2147483648.0f, INT32_MAX}, {kInf, INT32_MAX},
                              {-2147483904.0f, INT32_MIN}, {-kInf, INT32_MIN}})
        EXPECT_EQ(SharedMath::round(x), rounded) << x;
}

TEST(MakeRatioSShaped, FollowsTheCurve)
{
    EXPECT_EQ(makeRatioSShaped(0.5f), 0.5f);
    // The reference values are given to seven decimals.
    for (auto [ratio, shaped] : {std::pair{1.0f, 1.0013733}, {0.1f, 0.0141865}, {0.25f, 0.0589133},
                                 {0.75f, 0.9410866}, {0.9f, 0.9858135}})
        EXPECT_NEAR(makeRatioSShaped(ratio), shaped, 5e-8) << ratio;
    // Symmetric about 0.5 up to single-precision rounding.
    EXPECT_NEAR(makeRatioSShaped(0.3f) + makeRatioSShaped(0.7f), 1.0f, 2e-7f);
    EXPECT_EQ(makeRatioSShaped(0.0f) + makeRatioSShaped(0.0106f), 0.0f);
    EXPECT_GT(makeRatioSShaped(0.011f), 0.0f);
    EXPECT_NEAR(makeRatioSShaped(1e30f), 1.0655f, 1e-4f);
    EXPECT_LT(makeRatioSShaped(kInf), 1.066f);
    EXPECT_TRUE(std::isnan(makeRatioSShaped(kNaN)));
}

using GetChanceTest = LogCaptureTest;

TEST_F(GetChanceTest, IsTheChanceOfAtLeastOneSuccess)
{
    struct Case { float perUnit, unitSize, quantity, maxChance, chance; };
    Case const cases[] = {
        {0.1f, 1.0f, 1.0f, 1.0f, 0.1f}, {0.1f, 1.0f, 2.0f, 1.0f, 0.19f}, {0.5f, 1.0f, 3.0f, 1.0f, 0.875f},
        {0.0f, 1.0f, 5.0f, 1.0f, 0.0f},
        {0.5f, 1.0f, 3.0f, 2.0f, 2.0f * (1.0f - std::sqrt(0.125f))},  // scaled: 2 * (1 - 0.5^(3 / 2))
        // At the maximum the chance is returned directly.
        {1.0f, 0.0f, 0.0f, 1.0f, 1.0f}, {2.0f, 1.0f, 1.0f, 1.0f, 1.0f}, {0.0f, 1.0f, 1.0f, 0.0f, 0.0f},
        // Outside the model: still numbers.
        {1.0f, 1.0f, 1.0f, 2.0f, 2.0f},  // certain per unit
        {1.5f, 1.0f, 0.5f, 2.0f, 2.0f},  // the power would be NaN
        {0.5f, 0.0f, 1.0f, 1.0f, 1.0f},  // infinitely many tries
        {0.5f, 0.0f, 0.0f, 1.0f, 0.0f},  // 0 / 0 tries
        {kNaN, 1.0f, 1.0f, 1.0f, 0.0f},
    };
    for (Case const &c : cases)
        EXPECT_NEAR(getChance(c.perUnit, c.unitSize, c.quantity, c.maxChance), c.chance, 1e-6f)
            << c.perUnit << " " << c.unitSize << " " << c.quantity << " " << c.maxChance;
    EXPECT_TRUE(texts().empty());

    // A negative chance is logged once and taken as zero.
    EXPECT_EQ(getChance(-0.25f, 1.0f, 3.0f, 1.0f), 0.0f);
    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR : fChancePerUnit is -0.250000.  It's valid range is "
                                                 "[0,1.000000)."}));
    EXPECT_EQ(std::pair(lines().at(0).severity, lines().at(0).channel), std::pair(LogSev_Error, 0));
}

}  // namespace
