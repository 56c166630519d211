#include "../System.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "../LastError.h"
#include "../common/Common.h"
#include "ErrorTranslation.h"
#include "../../testing/TestSeams.h"

namespace platform {
namespace {

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

}  // namespace

bool GetProcessAffinityMask(uint32_t *processMask, uint32_t *systemMask)
{
    if (processMask == nullptr || systemMask == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (common::PinnedAffinity(processMask, systemMask))
        return true;
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

std::vector<DisplayMonitor> GetDisplayMonitors()
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    return g_monitors;
}

void seam::SetDisplayMonitors(std::vector<DisplayMonitor> const &monitors)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    g_monitors = monitors;
}

void seam::ResetDisplayMonitors()
{
    SetDisplayMonitors({kDefaultMonitor});
    SetMonitorFunctionsAvailable(true);
}

bool MonitorFunctionsAvailable() { return g_monitorFunctions.load(std::memory_order_acquire); }
void seam::SetMonitorFunctionsAvailable(bool available) { g_monitorFunctions.store(available, std::memory_order_release); }

int32_t GetSystemMetrics(int index)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    return common::LayoutSystemMetrics(g_monitors, index);
}

MonitorHandle MonitorFromRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t flags)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    return common::LayoutMonitorFromRect(g_monitors, DisplayMonitor{left, top, right, bottom, false}, flags);
}

bool GetMonitorRect(MonitorHandle monitor, DisplayMonitor *info)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    return common::LayoutMonitorRect(g_monitors, monitor, info);
}

}  // namespace platform
