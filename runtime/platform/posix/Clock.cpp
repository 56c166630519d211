#include "../Clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

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

int64_t monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
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
    return static_cast<uint32_t>(monotonicNanoseconds() / 1000000);
}

bool QueryPerformanceCounter(int64_t *count)
{
    if (g_performanceCounter.pinned.load(std::memory_order_acquire))
        *count = g_performanceCounter.value.load(std::memory_order_relaxed);
    else
        *count = monotonicNanoseconds();
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency)
{
    *frequency = 1000000000LL;
    return true;
}

int64_t GetWallClockSeconds()
{
    if (g_wallClock.pinned.load(std::memory_order_acquire))
        return g_wallClock.value.load(std::memory_order_relaxed);
    return static_cast<int64_t>(::time(nullptr));
}

void Sleep(uint32_t milliseconds)
{
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void PinTickCount(uint32_t milliseconds) { pin(g_tickCount, milliseconds); }
void PinPerformanceCounter(int64_t ticks) { pin(g_performanceCounter, ticks); }
void PinWallClock(int64_t seconds) { pin(g_wallClock, seconds); }
void ReleaseTickCount() { g_tickCount.pinned.store(false, std::memory_order_release); }
void ReleasePerformanceCounter() { g_performanceCounter.pinned.store(false, std::memory_order_release); }
void ReleaseWallClock() { g_wallClock.pinned.store(false, std::memory_order_release); }

}  // namespace platform
