#include "../System.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "../LastError.h"
#include "ErrorTranslation.h"

namespace platform {
namespace {

// Pinned masks: the process mask in the low and the system mask in the high
// half, so that both are read together.
std::atomic<bool> g_affinityPinned{false};
std::atomic<uint64_t> g_pinnedAffinity{0};

uint32_t firstProcessors(cpu_set_t const *set, size_t setSize)
{
    uint32_t mask = 0;
    for (int cpu = 0; cpu < 32; ++cpu)
        if (CPU_ISSET_S(static_cast<size_t>(cpu), setSize, set))
            mask |= 1u << cpu;
    return mask;
}

constexpr DisplayMonitor kDefaultMonitor{0, 0, 1920, 1080, true};

std::mutex g_displayLock;
std::vector<DisplayMonitor> g_monitors{kDefaultMonitor};
std::atomic<bool> g_monitorFunctions{true};

bool isEmpty(DisplayMonitor const &r) { return r.left >= r.right || r.top >= r.bottom; }

// The area two rectangles share, 0 when they do not overlap. Unsigned 64
// bits hold the largest possible product.
uint64_t sharedArea(DisplayMonitor const &a, DisplayMonitor const &b)
{
    int64_t width = int64_t{std::min(a.right, b.right)} - std::max(a.left, b.left);
    int64_t height = int64_t{std::min(a.bottom, b.bottom)} - std::max(a.top, b.top);
    if (width <= 0 || height <= 0)
        return 0;
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

// Squared gap between two rectangles, 0 when they touch or overlap.
double gapSquared(DisplayMonitor const &a, DisplayMonitor const &b)
{
    double dx = std::max({0.0, double(b.left) - a.right, double(a.left) - b.right});
    double dy = std::max({0.0, double(b.top) - a.bottom, double(a.top) - b.bottom});
    return dx * dx + dy * dy;
}

// Index of the primary screen: the first one marked, else the first one;
// -1 without monitors. Called with the display lock held.
int primaryIndex()
{
    for (size_t i = 0; i < g_monitors.size(); ++i)
        if (g_monitors[i].primary)
            return static_cast<int>(i);
    return g_monitors.empty() ? -1 : 0;
}

MonitorHandle handleOf(int index) { return index < 0 ? NO_MONITOR : static_cast<MonitorHandle>(index) + 1; }

}  // namespace

bool GetProcessAffinityMask(uint32_t *processMask, uint32_t *systemMask)
{
    if (processMask == nullptr || systemMask == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (g_affinityPinned.load(std::memory_order_acquire)) {
        uint64_t pinned = g_pinnedAffinity.load(std::memory_order_relaxed);
        *processMask = static_cast<uint32_t>(pinned);
        *systemMask = static_cast<uint32_t>(pinned >> 32);
        return true;
    }
    // The kernel refuses a set smaller than its own; grow until it fits.
    for (int processors = 1024; processors <= (1 << 20); processors *= 2) {
        cpu_set_t *set = CPU_ALLOC(processors);
        if (set == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        size_t setSize = CPU_ALLOC_SIZE(processors);
        CPU_ZERO_S(setSize, set);
        if (::sched_getaffinity(0, setSize, set) == 0) {
            *processMask = firstProcessors(set, setSize);
            CPU_FREE(set);
            long configured = ::sysconf(_SC_NPROCESSORS_CONF);
            if (configured >= 32)
                *systemMask = 0xFFFFFFFFu;
            else if (configured > 0)
                *systemMask = (1u << configured) - 1;
            else
                *systemMask = *processMask;
            *systemMask |= *processMask;
            return true;
        }
        int error = errno;
        CPU_FREE(set);
        if (error != EINVAL) {
            posix::SetLastSystemError(error);
            return false;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

void PinProcessAffinity(uint32_t processMask, uint32_t systemMask)
{
    g_pinnedAffinity.store((uint64_t{systemMask} << 32) | processMask, std::memory_order_relaxed);
    g_affinityPinned.store(true, std::memory_order_release);
}

void ReleaseProcessAffinity() { g_affinityPinned.store(false, std::memory_order_release); }

std::vector<DisplayMonitor> GetDisplayMonitors()
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    return g_monitors;
}

void SetDisplayMonitors(std::vector<DisplayMonitor> const &monitors)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    g_monitors = monitors;
}

void ResetDisplayMonitors()
{
    SetDisplayMonitors({kDefaultMonitor});
    SetMonitorFunctionsAvailable(true);
}

bool MonitorFunctionsAvailable() { return g_monitorFunctions.load(std::memory_order_acquire); }
void SetMonitorFunctionsAvailable(bool available) { g_monitorFunctions.store(available, std::memory_order_release); }

int32_t GetSystemMetrics(int index)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    int primary = primaryIndex();
    switch (index) {
    case SM_CXSCREEN:
        return primary < 0 ? 0 : static_cast<int32_t>(int64_t{g_monitors[primary].right} - g_monitors[primary].left);
    case SM_CYSCREEN:
        return primary < 0 ? 0 : static_cast<int32_t>(int64_t{g_monitors[primary].bottom} - g_monitors[primary].top);
    case SM_CMONITORS: return static_cast<int32_t>(g_monitors.size());
    default: return 0;
    }
}

MonitorHandle MonitorFromRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t flags)
{
    DisplayMonitor const rect{left, top, right, bottom, false};
    std::lock_guard<std::mutex> guard(g_displayLock);
    int best = -1;
    uint64_t bestArea = 0;
    for (size_t i = 0; i < g_monitors.size(); ++i) {
        uint64_t area = sharedArea(rect, g_monitors[i]);
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0)
        return handleOf(best);
    if (flags == MONITOR_DEFAULTTOPRIMARY)
        return handleOf(primaryIndex());
    if (flags == MONITOR_DEFAULTTONEAREST) {
        double bestGap = 0;
        for (size_t i = 0; i < g_monitors.size(); ++i) {
            if (isEmpty(g_monitors[i]))
                continue;
            double gap = gapSquared(rect, g_monitors[i]);
            if (best < 0 || gap < bestGap) {
                bestGap = gap;
                best = static_cast<int>(i);
            }
        }
        return handleOf(best);
    }
    return NO_MONITOR;
}

bool GetMonitorRect(MonitorHandle monitor, DisplayMonitor *info)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    if (monitor == NO_MONITOR || monitor > g_monitors.size() || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *info = g_monitors[monitor - 1];
    return true;
}

}  // namespace platform
