#pragma once

/// \file
/// Monotonic clocks: tick count and performance counter.

#include <cstdint>

#include "../Export.h"

namespace platform {

/// Monotonic milliseconds, 32 bits, wrapping after about 49.7 days.
SHAREDLIB_API uint32_t GetTickCount();
/// Monotonic ticks of the performance counter; always succeeds here.
SHAREDLIB_API bool QueryPerformanceCounter(int64_t *count);
/// Ticks per second of the performance counter (1e9: nanoseconds).
SHAREDLIB_API bool QueryPerformanceFrequency(int64_t *frequency);
/// Wall clock: seconds since 1970-01-01 UTC (_time64).
SHAREDLIB_API int64_t GetWallClockSeconds();
/// The local date and time of a wall-clock second as ctime writes it, without
/// its line end: "Sun Dec  6 02:54:51 2026" (24 characters). False when the
/// time cannot be shown.
SHAREDLIB_API bool LocalTimeText(int64_t seconds, char (&text)[32]);
/// Suspends the calling thread.
SHAREDLIB_API void Sleep(uint32_t milliseconds);

}  // namespace platform
