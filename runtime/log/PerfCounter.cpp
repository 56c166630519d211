#include "PerfCounter.h"

#include <cmath>

#include "../platform/Clock.h"
#include "FrameEventLog.h"
#include "LogStatement.h"

namespace {

int64_t readCounter()
{
    int64_t now = 0;
    platform::QueryPerformanceCounter(&now);
    return now;
}

// now - start without signed overflow.
int64_t ticksSince(int64_t start)
{
    return static_cast<int64_t>(static_cast<uint64_t>(readCounter()) - static_cast<uint64_t>(start));
}

bool channelAtInfo(Log channel)
{
    Logger *logger = theLogger;
    return logger != nullptr && logger->CheckConditional(channel, LogSev_Info);
}

}  // namespace

PerfCounter::PerfCounter(uint32_t &total) : m_start(platform::GetTickCount()), m_total(&total) {}

PerfCounter::~PerfCounter()
{
    // Unsigned 32-bit arithmetic: right across one wrap of the tick count.
    *m_total += platform::GetTickCount() - m_start;
}

PrecisionPerfCounter::PrecisionPerfCounter(uint32_t &total, bool rawTicks)
    : m_start(0), m_total(&total), m_rawTicks(rawTicks)
{
    FrameEventLogger::millisecondDivisor();
    m_start = readCounter();
}

PrecisionPerfCounter::PrecisionPerfCounter(uint32_t &total) : PrecisionPerfCounter(total, false) {}

PrecisionPerfCounter::~PrecisionPerfCounter()
{
    int64_t elapsed = ticksSince(m_start);
    if (elapsed <= 0)
        return;  // a counter that did not move (or ran backwards) adds nothing
    uint64_t ticksPerMs = m_rawTicks ? 1 : FrameEventLogger::millisecondDivisor();
    // Under one millisecond adds 0, as the division below would.
    if (static_cast<uint64_t>(elapsed) < ticksPerMs)
        return;
    auto divisor = static_cast<double>(ticksPerMs);
    // Cut toward zero; at most 2^63, so within uint64_t. The total is a
    // 32-bit counter and wraps as one.
    uint64_t whole = static_cast<uint64_t>(std::trunc(static_cast<double>(elapsed) / divisor));
    *m_total += static_cast<uint32_t>(whole);
}

PerfLogCounter::PerfLogCounter(char const *name, Log channel, uint32_t thresholdMs)
    : m_start(0), m_name(name), m_thresholdMs(thresholdMs), m_channel(channel), m_started(false)
{
    if (!channelAtInfo(channel))
        return;
    FrameEventLogger::millisecondDivisor();
    m_start = readCounter();
    m_started = true;
}

PerfLogCounter::~PerfLogCounter()
{
    if (!m_started || !channelAtInfo(m_channel))
        return;
    int64_t elapsed = ticksSince(m_start);
    uint64_t divisor = FrameEventLogger::millisecondDivisor();
    if (elapsed < 0 || static_cast<uint64_t>(elapsed) / divisor < m_thresholdMs)
        return;
    SHAREDLIB_DEBUGLOG(LogSev_Info, m_channel, "%s time=%.4lf ms", m_name != nullptr ? m_name : "",
                       static_cast<double>(elapsed) / static_cast<double>(divisor));
}
