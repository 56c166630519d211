#include <cstdio>
#include <mutex>

#include "../../testing/TestSeams.h"
#include "../Socket.h"
#include "Common.h"

namespace platform {

namespace common {

PinnedClock g_pinnedTickCount;
PinnedClock g_pinnedPerformanceCounter;
PinnedClock g_pinnedWallClock;

bool FormatLocalTime(std::tm const &local, char (&text)[32])
{
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

namespace {

// The process mask in the low and the system mask in the high half, so that
// both are read together.
std::atomic<bool> g_affinityPinned{false};
std::atomic<uint64_t> g_pinnedAffinity{0};

std::mutex g_hostAddressLock;
bool g_hostAddressesPinned = false;
std::vector<uint32_t> g_pinnedHostAddresses;

void pin(PinnedClock &clock, int64_t value)
{
    clock.value.store(value, std::memory_order_relaxed);
    clock.pinned.store(true, std::memory_order_release);
}

}  // namespace

bool PinnedAffinity(uint32_t *processMask, uint32_t *systemMask)
{
    if (!g_affinityPinned.load(std::memory_order_acquire))
        return false;
    uint64_t pinned = g_pinnedAffinity.load(std::memory_order_relaxed);
    *processMask = static_cast<uint32_t>(pinned);
    *systemMask = static_cast<uint32_t>(pinned >> 32);
    return true;
}

bool PinnedHostAddresses(std::vector<uint32_t> &addresses)
{
    std::lock_guard<std::mutex> guard(g_hostAddressLock);
    if (g_hostAddressesPinned)
        addresses = g_pinnedHostAddresses;
    return g_hostAddressesPinned;
}

}  // namespace common

void seam::PinTickCount(uint32_t milliseconds) { common::pin(common::g_pinnedTickCount, milliseconds); }
void seam::PinPerformanceCounter(int64_t ticks) { common::pin(common::g_pinnedPerformanceCounter, ticks); }
void seam::PinWallClock(int64_t seconds) { common::pin(common::g_pinnedWallClock, seconds); }
void seam::ReleaseTickCount() { common::g_pinnedTickCount.pinned.store(false, std::memory_order_release); }
void seam::ReleasePerformanceCounter()
{
    common::g_pinnedPerformanceCounter.pinned.store(false, std::memory_order_release);
}
void seam::ReleaseWallClock() { common::g_pinnedWallClock.pinned.store(false, std::memory_order_release); }

void seam::PinProcessAffinity(uint32_t processMask, uint32_t systemMask)
{
    common::g_pinnedAffinity.store((uint64_t{systemMask} << 32) | processMask, std::memory_order_relaxed);
    common::g_affinityPinned.store(true, std::memory_order_release);
}

void seam::ReleaseProcessAffinity() { common::g_affinityPinned.store(false, std::memory_order_release); }

void seam::PinHostAddresses(std::vector<uint32_t> const &addresses)
{
    std::lock_guard<std::mutex> guard(common::g_hostAddressLock);
    common::g_hostAddressesPinned = true;
    common::g_pinnedHostAddresses = addresses;
}

void seam::ReleaseHostAddresses()
{
    std::lock_guard<std::mutex> guard(common::g_hostAddressLock);
    common::g_hostAddressesPinned = false;
    common::g_pinnedHostAddresses.clear();
}

std::string InetNtoa(uint32_t ip)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    return text;
}

}  // namespace platform
