#include "MathHelpers.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "../enums/Log.h"
#include "../log/LogStatement.h"

namespace {

// Steps value (finite, above period > 0) down by period, each difference
// rounded to single precision, until it is no longer above period: the
// result of the plain loop, without taking its millions of steps.
//
// Within one binade [2^e, 2^(e+1)) every float lies on the grid of one ulp
// u, and value - period lies in the binade as long as value >= 2^e + period.
// Subtracting a multiple of u moves value - period along the grid without
// changing where it rounds, so every such step subtracts the same d. The
// one exception is a difference exactly halfway between two grid points:
// ties go to the even neighbour, and from an even value the step is again
// constant. Those steps are taken at once; the rest (crossing into the next
// binade down, a halfway step from an odd value) one by one.
//
// Where a step no longer changes the value (the period is below half an
// ulp), the loop would never end: there, and only there, the value is
// reduced by the exact remainder, which ends in (0, period].
float stepDown(float value, float period)
{
    while (value > period) {
        float const next = value - period;
        if (next == value) {
            float const rest = std::fmod(value, period);
            return rest == 0.0f ? period : rest;
        }
        int const exponent = std::ilogb(value);
        // Below the smallest normal float the grid no longer shrinks.
        double const binadeStart = exponent >= FLT_MIN_EXP - 1 ? std::ldexp(1.0, exponent) : 0.0;
        double const ulp = std::ldexp(1.0, std::max(exponent, FLT_MIN_EXP - 1) - (FLT_MANT_DIG - 1));
        // Both differences are exact in double: the step changed the value,
        // so period is at least half an ulp and the bits involved span
        // fewer than 53.
        double const exact = static_cast<double>(value) - static_cast<double>(period);
        double const step = static_cast<double>(value) - static_cast<double>(next);
        bool const halfway = std::fabs(exact - static_cast<double>(next)) == ulp / 2.0;
        bool const evenValue = std::fmod(static_cast<double>(value), 2.0 * ulp) == 0.0;
        if (exact < binadeStart || (halfway && !evenValue)) {
            value = next;
            continue;
        }
        // Steps i = 0, 1, ... take value - i * step while the difference
        // before rounding stays in the binade (and value above period).
        auto inBinade = [&](double steps) {
            double const at = static_cast<double>(value) - steps * step;
            double const difference = at - static_cast<double>(period);
            return at > static_cast<double>(period) && difference >= binadeStart;
        };
        double count = std::floor((exact - binadeStart) / step) + 1.0;
        while (count > 1.0 && !inBinade(count - 1.0))
            count -= 1.0;
        while (inBinade(count))
            count += 1.0;
        value = static_cast<float>(static_cast<double>(value) - count * step);
    }
    return value;
}

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
    // Rounding is symmetric, so stepping up from below is stepping down
    // from the mirrored angle.
    if (angle > period)
        angle = stepDown(angle, period);
    else if (angle < -period)
        angle = -stepDown(-angle, period);
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
