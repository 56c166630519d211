#pragma once

#include <cstdint>

#include "../Export.h"
#include "../enums/Log.h"

/// \file
/// Scoped timers: each starts in its constructor and finishes in its
/// destructor, so a timed block is simply a scope. They cost two clock reads
/// and allocate nothing.
///
/// The totals are 32-bit counters (unsigned long on the original target);
/// unsigned int is the same 32-bit type here, so one constructor taking a
/// uint32_t& serves both kinds of total.

/// Adds the milliseconds of the tick count spent in its scope to a total.
class SHAREDLIB_API PerfCounter {
public:
    /// Starts timing; the destructor adds the elapsed milliseconds to total.
    explicit PerfCounter(uint32_t &total);
    ~PerfCounter();

private:
    uint32_t m_start;
    uint32_t *m_total;
};

/// Adds the performance-counter time spent in its scope to a total: whole
/// milliseconds (the fraction is dropped), or raw counter ticks.
class SHAREDLIB_API PrecisionPerfCounter {
public:
    /// Starts timing; the destructor adds the elapsed time to total, in milliseconds or, with rawTicks, in counter ticks.
    PrecisionPerfCounter(uint32_t &total, bool rawTicks);
    /// The unsigned int form: whole milliseconds.
    explicit PrecisionPerfCounter(uint32_t &total);
    ~PrecisionPerfCounter();

private:
    int64_t m_start;
    uint32_t *m_total;
    bool m_rawTicks;
};

/// Logs "<name> time=<ms> ms" at info on its channel when its scope took at
/// least thresholdMs milliseconds. Reads no clock while the channel is quieter
/// than info or there is no logger. The name is not copied.
class SHAREDLIB_API PerfLogCounter {
public:
    /// Starts timing; the destructor logs name and the elapsed milliseconds on
    /// channel (Info, through debuglog) when they reach thresholdMs.
    PerfLogCounter(char const *name, Log channel, uint32_t thresholdMs);
    ~PerfLogCounter();

private:
    int64_t m_start;
    char const *m_name;
    uint32_t m_thresholdMs;
    Log m_channel;
    bool m_started;
};
