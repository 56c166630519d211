#include "MathHelpers.h"

#include <cmath>
#include <cstdint>

#include "../enums/Log.h"
#include "../log/LogStatement.h"

namespace {

// Further out than this many periods, validateRotation reduces the angle with
// an exact remainder instead of stepping (a float step can stop changing the
// angle altogether once the period is below half its ulp).
constexpr float kMaxRotationSteps = 65536.0f;

// The double values of the float constants the curve was tuned with.
constexpr double kSCurveWidth = static_cast<double>(0.09f);
constexpr double kSCurveScale = static_cast<double>(0.36f);

}  // namespace

namespace SharedMath {

float interpolate(float from, float to, float fraction)
{
    float const span = to - from;
    float const offset = span * fraction;
    return from + offset;
}

float lerp(float fraction, float from, float to)
{
    return interpolate(from, to, fraction);
}

float caribbeanAngleToWorld(float angle)
{
    return -angle;
}

float worldAngleToCaribbean(float angle)
{
    return -angle;
}

void constrainAngle(float &angle, float limit)
{
    if (angle > limit)
        angle = limit;
    if (angle < -limit)
        angle = -limit;
}

void validateRotation(float &angle, float period)
{
    // Not positive (or NaN): stepping would never end. Infinite angle: no
    // number of periods brings it back. NaN angle: nothing compares.
    if (!(period > 0.0f) || !std::isfinite(angle))
        return;

    float value = angle;
    if (std::fabs(value) / period > kMaxRotationSteps) {
        // The remainder of two floats is exact. Stepping down by whole periods
        // ends in (0, period] (or [-period, 0) from below).
        float const rest = std::fmod(value, period);
        if (value > 0.0f)
            value = rest == 0.0f ? period : rest;
        else
            value = rest == 0.0f ? -period : rest;
    }
    while (value > period)
        value -= period;
    while (value < -period)
        value += period;
    angle = value;
}

float roundf(float x)
{
    float const sum = x + 0.5f;
    return std::floor(sum);
}

int32_t round(float x)
{
    float const whole = roundf(x);
    if (std::isnan(whole))
        return 0;
    // 2^31 is exact as a float; every float below it converts exactly.
    if (whole >= 2147483648.0f)
        return INT32_MAX;
    if (whole < -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(whole);
}

float makeRatioSShaped(float ratio)
{
    float const t = static_cast<float>((static_cast<double>(ratio) - 0.5) / kSCurveWidth);
    float const a = static_cast<float>(std::atan(static_cast<double>(t)));
    float const v = static_cast<float>(static_cast<double>(a) * kSCurveScale + 0.5);
    if (v < 0.0f)
        return 0.0f;
    return v;
}

float getChance(float fChancePerUnit, float unitSize, float quantity, float maxChance)
{
    float p = fChancePerUnit;
    if (p < 0.0f) {
        SHAREDLIB_LOG(LogSev_Error, Log_Generic, "fChancePerUnit is %f.  It's valid range is [0,%f).",
                      static_cast<double>(p), static_cast<double>(maxChance));
        p = 0.0f;
    }
    if (p >= maxChance)
        return maxChance;
    // Certain success on every unit (only reachable with maxChance above 1);
    // the power below would be infinite or not a number.
    if (p >= 1.0f)
        return maxChance;

    float const q = 1.0f / (1.0f - p);
    float const e = quantity / (unitSize * maxChance);
    float const r = std::pow(q, e);
    float const chance = maxChance - maxChance / r;
    if (std::isnan(chance))
        return 0.0f;
    return chance;
}

int32_t closestPowerOfTwo(int32_t n)
{
    if (n < 2)
        return 1;
    if (n > 8192)
        return 8192;
    int32_t high = 2;
    while (high < n)
        high *= 2;
    int32_t const low = high / 2;
    if (n - low > high - n)
        return high;
    return low;
}

}  // namespace SharedMath
