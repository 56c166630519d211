#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// Small numeric helpers for game code. They keep no state, so any thread may
/// call them. All floating-point work is single precision: every named
/// intermediate is stored as a float before the next step.

/// Everything is declared in SharedMath. The names that nothing else in the
/// global namespace claims are brought there too (see the end of this file);
/// lerp, roundf and round are not, because the C and C++ libraries own
/// `::roundf(float)` and, through `<math.h>`, `::round(float)` and
/// `::lerp(float, float, float)`, with other rules or another argument order.
/// Call those three qualified (SharedMath::round) or with a using-declaration
/// where the library's functions are not wanted.
namespace SharedMath {

/// from + (to - from) * fraction; the fraction is not clamped, so values
/// outside 0..1 extrapolate.
SHAREDLIB_API float interpolate(float from, float to, float fraction);
/// interpolate with the fraction first (std::lerp takes it last).
SHAREDLIB_API float lerp(float fraction, float from, float to);

///@{

/// The two angle conventions differ only in the sense of rotation, so each
/// conversion is its own inverse.
SHAREDLIB_API float caribbeanAngleToWorld(float angle);
SHAREDLIB_API float worldAngleToCaribbean(float angle);
///@}

/// Clamps angle to [-limit, limit] (for a non-negative limit). A NaN angle is
/// left as it is.
SHAREDLIB_API void constrainAngle(float &angle, float limit);

/// Brings angle back into [-period, period] by whole periods, stepping one
/// period at a time in single precision; the bounds are inclusive and the
/// angle is not folded into a half-open range (with 2*pi the result may be
/// anywhere from -2*pi to 2*pi). The result is that of the step-by-step loop,
/// reached without taking every step, so the call is always quick. Where a
/// step would no longer change the angle (a period below half its ulp) the
/// loop could never end; there the angle is reduced by the exact remainder.
/// A NaN or infinite angle, and a period that is not positive, leave the
/// angle unchanged.
SHAREDLIB_API void validateRotation(float &angle, float period);

/// An S-shaped remapping of a ratio: 0.5 stays 0.5, the curve is steep around
/// it, 0 below about 0.0107, and it approaches 1.0655 for large ratios (1 gives
/// 1.0013733; there is no upper clamp).
SHAREDLIB_API float makeRatioSShaped(float ratio);

/// The chance of at least one success when fChancePerUnit applies to each unit
/// of unitSize over quantity, scaled to maxChance:
/// maxChance * (1 - (1 - p)^(quantity / (unitSize * maxChance))).
/// A negative chance is logged as an error and treated as 0; a chance of at
/// least maxChance gives maxChance. Beyond the meaningful range: a chance per
/// unit of 1 or more (possible when maxChance is above 1) gives maxChance, and
/// a result that is not a number gives 0.
SHAREDLIB_API float getChance(float fChancePerUnit, float unitSize, float quantity, float maxChance);

/// The power of two nearest to n within 1..8192; ties go to the lower power
/// (3 -> 2, 6 -> 4), n < 2 gives 1 and n > 8192 gives 8192.
SHAREDLIB_API int32_t closestPowerOfTwo(int32_t n);

/// The library's rounding rounds halves up (2.5 -> 3, -2.5 -> -2), unlike the
/// C library's functions of these names, which round them away from zero.
/// floor(x + 0.5), the sum first stored in single precision, so 0.49999997
/// gives 1. NaN and infinities come back unchanged.
SHAREDLIB_API float roundf(float x);
/// roundf(x) as a 32-bit integer. Values beyond the 32-bit range saturate to
/// INT32_MIN / INT32_MAX; NaN gives 0.
SHAREDLIB_API int32_t round(float x);

}  // namespace SharedMath

using SharedMath::caribbeanAngleToWorld;
using SharedMath::closestPowerOfTwo;
using SharedMath::constrainAngle;
using SharedMath::getChance;
using SharedMath::interpolate;
using SharedMath::makeRatioSShaped;
using SharedMath::validateRotation;
using SharedMath::worldAngleToCaribbean;
