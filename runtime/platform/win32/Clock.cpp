#include "WindowsApi.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "../Clock.h"
#include "../../testing/TestSeams.h"

namespace platform {
namespace {

// A pinned clock answers its stored value instead of the system's.
struct PinnedClock {
    std::atomic<bool> pinned{false};
    std::atomic<int64_t> value{0};
};

PinnedClock g_tickCount;
PinnedClock g_performanceCounter;
PinnedClock g_wallClock;

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

void pin(PinnedClock &clock, int64_t value)
{
    clock.value.store(value, std::memory_order_relaxed);
    clock.pinned.store(true, std::memory_order_release);
}

}  // namespace

uint32_t GetTickCount()
{
    if (g_tickCount.pinned.load(std::memory_order_acquire))
        return static_cast<uint32_t>(g_tickCount.value.load(std::memory_order_relaxed));
    // The system's tick count moves in 10-16 ms steps; the performance
    // counter gives the same milliseconds since boot to the millisecond.
    return static_cast<uint32_t>(static_cast<uint64_t>(systemNanoseconds()) / 1000000u);
}

bool QueryPerformanceCounter(int64_t *count)
{
    if (g_performanceCounter.pinned.load(std::memory_order_acquire))
        *count = g_performanceCounter.value.load(std::memory_order_relaxed);
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
    if (g_wallClock.pinned.load(std::memory_order_acquire))
        return g_wallClock.value.load(std::memory_order_relaxed);
    return static_cast<int64_t>(::_time64(nullptr));
}

bool LocalTimeText(int64_t seconds, char (&text)[32])
{
    __time64_t when = static_cast<__time64_t>(seconds);
    struct tm local {};
    if (::_localtime64_s(&local, &when) != 0)
        return false;
    static char const *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static char const *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11)
        return false;
    int written = std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[local.tm_wday],
                                kMonths[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                local.tm_year + 1900);
    return written > 0 && static_cast<size_t>(written) < sizeof text;
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void seam::PinTickCount(uint32_t milliseconds) { pin(g_tickCount, milliseconds); }
void seam::PinPerformanceCounter(int64_t ticks) { pin(g_performanceCounter, ticks); }
void seam::PinWallClock(int64_t seconds) { pin(g_wallClock, seconds); }
void seam::ReleaseTickCount() { g_tickCount.pinned.store(false, std::memory_order_release); }
void seam::ReleasePerformanceCounter() { g_performanceCounter.pinned.store(false, std::memory_order_release); }
void seam::ReleaseWallClock() { g_wallClock.pinned.store(false, std::memory_order_release); }

}  // namespace platform
