#include "WindowsApi.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "../Clock.h"
#include "../common/Common.h"

namespace platform {
namespace {

// The system's performance counter in nanoseconds: every build counts the
// same ticks, so budgets, timers and their log lines agree. Its frequency is
// fixed at boot and asked once.
int64_t systemNanoseconds()
{
    static int64_t const frequency = [] {
        LARGE_INTEGER value;
        return ::QueryPerformanceFrequency(&value) && value.QuadPart > 0 ? value.QuadPart : int64_t{1};
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    int64_t const ticks = now.QuadPart;
    if (frequency == 10000000)  // the common 100 ns counter
        return ticks * 100;
    return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

}  // namespace

uint32_t GetTickCount()
{
    if (common::g_pinnedTickCount.pinned.load(std::memory_order_acquire))
        return static_cast<uint32_t>(common::g_pinnedTickCount.value.load(std::memory_order_relaxed));
    // The system's tick count moves in 10-16 ms steps; the performance
    // counter gives the same milliseconds since boot to the millisecond.
    return static_cast<uint32_t>(static_cast<uint64_t>(systemNanoseconds()) / 1000000u);
}

bool QueryPerformanceCounter(int64_t *count)
{
    if (common::g_pinnedPerformanceCounter.pinned.load(std::memory_order_acquire))
        *count = common::g_pinnedPerformanceCounter.value.load(std::memory_order_relaxed);
    else
        *count = systemNanoseconds();
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency)
{
    *frequency = 1000000000;
    return true;
}

int64_t GetWallClockSeconds()
{
    if (common::g_pinnedWallClock.pinned.load(std::memory_order_acquire))
        return common::g_pinnedWallClock.value.load(std::memory_order_relaxed);
    return static_cast<int64_t>(::_time64(nullptr));
}

bool LocalTimeText(int64_t seconds, char (&text)[32])
{
    __time64_t when = static_cast<__time64_t>(seconds);
    struct tm local {};
    if (::_localtime64_s(&local, &when) != 0)
        return false;
    return common::FormatLocalTime(local, text);
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
