#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// The library's wall clock: the system clock plus an offset, so that a
/// program can follow another machine's time. Any thread may use it; the
/// offset is guarded by the clock lock, which exists from the first clock
/// call until cleanupSharedTools.

/// Sets the clock to the given seconds since 1970-01-01 00:00 UTC; from now
/// on it runs at the system clock's pace from there.
SHAREDLIB_API void SetSecondsSinceEpoch(int64_t seconds);
/// Seconds since 1970-01-01 00:00 UTC: the system clock until
/// SetSecondsSinceEpoch is called.
SHAREDLIB_API int64_t GetSecondsSinceEpoch();
/// A session identifier from the clock: 30 per second, repeating every 1095
/// days (0 to 2838239970).
SHAREDLIB_API uint32_t getTimeSessionId();
/// Releases the clock lock; called once at shutdown, after the last use of
/// the clock.
SHAREDLIB_API void cleanupSharedTools();
