#include "../Clock.h"
#include "../common/Common.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define SHAREDLIB_HAVE_TSC 1
#endif

namespace platform {
namespace {

int64_t monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

#ifdef SHAREDLIB_HAVE_TSC
// The performance counter counts nanoseconds. Where the processor's
// time-stamp counter runs at a constant rate through every power state and
// the kernel itself keeps time with it (so it agrees across processors), a
// reading is the time-stamp counter, unserialised, scaled to nanoseconds with
// a rate measured once against the monotonic clock: a few nanoseconds
// instead of a clock_gettime call. Elsewhere it is the monotonic clock.
struct TscScale {
    bool usable = false;
    uint64_t originTicks = 0;
    int64_t originNanoseconds = 0;
    uint64_t nanosecondsPer2e32Ticks = 0;  // 32.32 fixed point
};

bool fileHasWord(char const *path, char const *prefix, char const *word)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, std::strlen(prefix), prefix) != 0)
            continue;
        std::string padded = " " + line + " ";
        return padded.find(std::string(" ") + word + " ") != std::string::npos;
    }
    return false;
}

TscScale measureTsc()
{
    TscScale scale;
    if (!fileHasWord("/proc/cpuinfo", "flags", "constant_tsc") ||
        !fileHasWord("/proc/cpuinfo", "flags", "nonstop_tsc") ||
        !fileHasWord("/sys/devices/system/clocksource/clocksource0/current_clocksource", "tsc", "tsc"))
        return scale;
    // Two readings of both clocks 5 ms apart; each time-stamp reading is
    // bracketed by monotonic readings and taken as their midpoint. A bracket
    // that a preemption widened would skew the rate by its width, so the
    // narrowest of a few tries is kept.
    auto sample = [](uint64_t &ticks, int64_t &nanoseconds) {
        int64_t narrowest = INT64_MAX;
        for (int attempt = 0; attempt < 16 && narrowest > 2000; ++attempt) {
            int64_t before = monotonicNanoseconds();
            uint64_t reading = __rdtsc();
            int64_t after = monotonicNanoseconds();
            if (after - before < narrowest) {
                narrowest = after - before;
                ticks = reading;
                nanoseconds = before + (after - before) / 2;
            }
        }
    };
    uint64_t ticks0 = 0, ticks1 = 0;
    int64_t ns0 = 0, ns1 = 0;
    sample(ticks0, ns0);
    do {
        sample(ticks1, ns1);
    } while (ns1 - ns0 < 5000000);
    if (ticks1 <= ticks0)
        return scale;
    double nsPerTick = static_cast<double>(ns1 - ns0) / static_cast<double>(ticks1 - ticks0);
    scale.nanosecondsPer2e32Ticks = static_cast<uint64_t>(nsPerTick * 4294967296.0);
    scale.originTicks = ticks1;
    scale.originNanoseconds = ns1;
    scale.usable = scale.nanosecondsPer2e32Ticks != 0;
    return scale;
}

TscScale const &tscScale()
{
    static TscScale const scale = measureTsc();
    return scale;
}

inline int64_t counterNanoseconds()
{
    TscScale const &scale = tscScale();
    if (!scale.usable)
        return monotonicNanoseconds();
    // Signed: a processor a few ticks behind the one that measured the
    // origin reads just before it.
    auto elapsed = static_cast<int64_t>(__rdtsc() - scale.originTicks);
    __int128 scaled = static_cast<__int128>(elapsed) * static_cast<__int128>(scale.nanosecondsPer2e32Ticks);
    return scale.originNanoseconds + static_cast<int64_t>(scaled >> 32);
}
#else
inline int64_t counterNanoseconds()
{
    return monotonicNanoseconds();
}
#endif

// The coarse clock read by the kernel's vDSO entry itself rather than
// through the C library's wrapper, which adds about half again to a reading
// that every queued message takes twice. The wrapper stays the fallback.
using ClockGetTime = int (*)(clockid_t, timespec *);

ClockGetTime findCoarseClockReader()
{
    if (void *vdso = ::dlopen("linux-vdso.so.1", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD)) {
        void *entry = ::dlvsym(vdso, "__vdso_clock_gettime", "LINUX_2.6");
        ::dlclose(vdso);
        timespec probe{};
        if (entry != nullptr && reinterpret_cast<ClockGetTime>(entry)(CLOCK_MONOTONIC_COARSE, &probe) == 0)
            return reinterpret_cast<ClockGetTime>(entry);
    }
    return &::clock_gettime;
}

// The wrapper until this file's initialisation has looked the entry up, so a
// tick count taken by another file's static objects is already right.
std::atomic<ClockGetTime> g_coarseClockReader{&::clock_gettime};
[[maybe_unused]] bool const g_coarseClockReaderFound =
    (g_coarseClockReader.store(findCoarseClockReader(), std::memory_order_relaxed), true);

}  // namespace

uint32_t GetTickCount()
{
    if (common::g_pinnedTickCount.pinned.load(std::memory_order_acquire))
        return static_cast<uint32_t>(common::g_pinnedTickCount.value.load(std::memory_order_relaxed));
    // The tick count is a coarse clock on its home platform too (10-16 ms
    // steps); the coarse clock costs a fraction of the precise one.
    timespec now{};
    g_coarseClockReader.load(std::memory_order_relaxed)(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

bool QueryPerformanceCounter(int64_t *count)
{
    if (common::g_pinnedPerformanceCounter.pinned.load(std::memory_order_acquire))
        *count = common::g_pinnedPerformanceCounter.value.load(std::memory_order_relaxed);
    else
        *count = counterNanoseconds();
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency)
{
    *frequency = 1000000000LL;
    return true;
}

int64_t GetWallClockSeconds()
{
    if (common::g_pinnedWallClock.pinned.load(std::memory_order_acquire))
        return common::g_pinnedWallClock.value.load(std::memory_order_relaxed);
    return static_cast<int64_t>(::time(nullptr));
}

bool LocalTimeText(int64_t seconds, char (&text)[32])
{
    time_t when = static_cast<time_t>(seconds);
    struct tm local {};
    if (::localtime_r(&when, &local) == nullptr)
        return false;
    return common::FormatLocalTime(local, text);
}

void Sleep(uint32_t milliseconds)
{
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
